// The alert model: what the alert document holds once parsed, and the small decisions read from it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "alerts/model/gdiplus_owners.h"

namespace brivon {

struct AlertItem {
  std::string texto;
  std::string enlace;
  std::string imagen;    // the picture's address; empty for none
  UniqueBitmap image;    // fetched from imagen before the first window; none when absent
  RECT hitRect{0, 0, 0, 0};  // clickable area in client pixels, set by painting
  std::string color_fondo = "#FFFFFF";
  std::string color_texto = "#000000";
};

struct Alert {
  std::string tipo;
  int32_t columnas = 1;  // always at least 1
  std::vector<AlertItem> contenido;
};

struct AlertDocument {
  std::string titulo;
  std::string color_fondo = "#FFFFFF";
  std::string color_titulo_fondo = "#0078D7";
  std::string color_titulo_texto = "#FFFFFF";
  std::vector<Alert> alertas;

  // Destroys every entry picture. Call while GDI+ is still running.
  void ReleaseImages();
};


enum class AlertKind {
  BotonMultiple = 0,
  BotonUnico = 1,
  SoloMensaje = 2,
  DocumentoRtf = 3,
  UrlActualizar = 4,
  OtherKind = 5,
};

// Exact, case-sensitive match of the whole "tipo"; anything else is OtherKind.
AlertKind AlertKindOf(const Alert& alert);

// "#RRGGBB" -> opaque 0xFFRRGGBB; a non-hex digit counts as 0; any other shape is opaque white.
uint32_t ColorFromHex(const std::string& color);

}  // namespace brivon
