#include "alerts/model/alert_parser.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <limits>
#include <utility>

namespace brivon {
namespace {

using Json = nlohmann::json;

// A key of the wrong type counts as absent: the document comes from a remote service and a
// schema slip there must not end the program.
std::string TextOr(const Json& object, const char* key, const std::string& fallback) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return fallback;
  return found->get<std::string>();
}

AlertItem ReadItem(const Json& element, const ImageFetch& fetch) {
  AlertItem item;
  item.texto = TextOr(element, "texto", "");
  item.enlace = TextOr(element, "enlace", "");
  item.color_fondo = TextOr(element, "color_fondo", "#FFFFFF");
  item.color_texto = TextOr(element, "color_texto", "#000000");
  auto imagen = element.find("imagen");
  if (imagen != element.end() && imagen->is_string()) {
    item.imagen = imagen->get<std::string>();
    if (fetch) item.image = fetch(item.imagen);
  }
  return item;
}

Alert ReadAlert(const Json& element, const ImageFetch& fetch) {
  Alert alert;
  alert.tipo = TextOr(element, "tipo", "");
  auto columnas = element.find("columnas");
  if (columnas != element.end()) {
    alert.columnas = columnas->is_string() ? ColumnsFromText(columnas->get<std::string>()) : 1;
  }
  auto contenido = element.find("contenido");
  if (contenido != element.end() && contenido->is_array()) {
    for (const Json& entry : *contenido) {
      if (entry.is_object()) alert.contenido.push_back(ReadItem(entry, fetch));
    }
  }
  return alert;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

int32_t ColumnsFromText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t firstDigit = i;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return 1;  // out of range
  }
  if (i == firstDigit) return 1;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return 1;
  return value < 1 ? 1 : static_cast<int32_t>(value);
}

bool ParseAlertStream(std::istream& in, AlertDocument& document, const ImageFetch& fetch) {
  try {
    Json root;
    try {
      in >> root;  // not strict: text after the first value is never read
    } catch (const Json::exception&) {
      // Syntax errors, and numbers too large for a double, which the library reports apart.
      return false;
    }
    if (!root.is_object()) return false;

    // Built aside so that a failure half-way leaves the caller's document as it was.
    AlertDocument fresh;
    fresh.titulo = TextOr(root, "titulo", "Alertas");
    fresh.color_fondo = TextOr(root, "color_fondo", document.color_fondo);
    fresh.color_titulo_fondo = TextOr(root, "color_titulo_fondo", document.color_titulo_fondo);
    fresh.color_titulo_texto = TextOr(root, "color_titulo_texto", document.color_titulo_texto);
    auto alertas = root.find("alertas");
    if (alertas != root.end() && alertas->is_array()) {
      for (const Json& element : *alertas) {
        if (element.is_object()) fresh.alertas.push_back(ReadAlert(element, fetch));
      }
    }
    document = std::move(fresh);
    return true;
  } catch (...) {
    // Out of memory or a failing fetch: pictures fetched so far go with `fresh`.
    return false;
  }
}

bool ParseAlertDocument(const std::string& path, AlertDocument& document, const ImageFetch& fetch) {
  std::ifstream in(path);
  if (!in.is_open()) return false;
  return ParseAlertStream(in, document, fetch);
}

}  // namespace brivon
