// The alert documents the tests serve or store, built from their alerts.
#pragma once

#include <string>

namespace brivon::testing {

// A whole document with its title and colours around the alerts (comma-separated, may be "").
inline std::string AlertDocument(const std::string& alertas, const std::string& titulo = "Avisos de prueba") {
  return R"({"titulo":")" + titulo + R"(","color_fondo":"#203040","color_titulo_fondo":"#804020",)"
         R"("color_titulo_texto":"#FFFFFF","alertas":[)" + alertas + "]}";
}

inline std::string SoloMensaje(const std::string& texto, const std::string& fondo, const std::string& imagen = "",
                               const std::string& enlace = "") {
  return R"({"tipo":"solo_mensaje","contenido":[{"texto":")" + texto + R"(","enlace":")" + enlace +
         R"(","imagen":")" + imagen + R"(","color_fondo":")" + fondo + R"(","color_texto":"#FFFFFF"}]})";
}

inline std::string TermsAlert(const std::string& enlace) {
  return R"({"tipo":"documento_rtf","contenido":[{"texto":"Terminos","enlace":")" + enlace + R"("}]})";
}

// An update alert for the package at url; without a title when titulo is "".
inline std::string UpdateAlert(const std::string& url, const std::string& titulo = "Actualizando") {
  return R"({"tipo":"url_actualizar",)" + (titulo.empty() ? "" : R"("titulo":")" + titulo + R"(",)") +
         R"("contenido":[{"texto":"","enlace":")" + url + R"("}]})";
}

// An update alert with no package to fetch.
inline constexpr char kUpdateAlertWithoutEntries[] =
    R"({"tipo":"url_actualizar","titulo":"Actualizando","contenido":[]})";

}  // namespace brivon::testing
