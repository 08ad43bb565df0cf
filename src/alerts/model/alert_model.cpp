#include "alerts/model/alert_model.h"

#include <map>

namespace brivon {

void AlertDocument::ReleaseImages() {
  for (Alert& alert : alertas) {
    for (AlertItem& item : alert.contenido) item.image.reset();
  }
}

AlertKind AlertKindOf(const Alert& alert) {
  static const std::map<std::string, AlertKind> kKinds = {
      {"boton_multiple", AlertKind::BotonMultiple}, {"boton_unico", AlertKind::BotonUnico},
      {"solo_mensaje", AlertKind::SoloMensaje},     {"documento_rtf", AlertKind::DocumentoRtf},
      {"url_actualizar", AlertKind::UrlActualizar},
  };
  auto found = kKinds.find(alert.tipo);
  return found == kKinds.end() ? AlertKind::OtherKind : found->second;
}

namespace {

uint32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
  return 0;
}

}  // namespace

uint32_t ColorFromHex(const std::string& color) {
  if (color.size() != 7 || color[0] != '#') return 0xFFFFFFFFu;
  uint32_t rgb = 0;
  for (size_t i = 1; i < 7; ++i) rgb = (rgb << 4) | HexDigit(color[i]);
  return 0xFF000000u | rgb;
}

}  // namespace brivon
