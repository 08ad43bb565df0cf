// Which sibling program lives in the program folder, and the report that names it to the service.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "build_config.h"

namespace brivon {

struct Product {
  const char* executable;  // bare lower-case file name
  const char* identifier;  // sent as "Programa"
};

// Detection order: the first row whose executable is present wins.
inline constexpr std::array<Product, 5> kProductTable = {{
    {"facturaorva.exe", "FacturaOrva"},
    {"contaorva.exe", "ContaOrva"},
    {"nominaorva.exe", "NominaOrva"},
    {"almacenorva.exe", "AlmacenOrva"},
    {"tpvorva.exe", "TpvOrva"},
}};

// This program's own version, sent as "actualizador_version".
inline constexpr char kUpdaterVersion[] = BRIVON_REPORTED_VERSION;

// program folder + "\" + the row's executable name.
std::wstring ProductPath(const std::wstring& programFolder, const Product& product);

// The first row of the table whose executable is a file (not a folder) in the program folder.
std::optional<Product> FindInstalledProduct(const std::wstring& programFolder);

// The report's exact text: five lines joined by single line feeds, no line end after "}".
std::string FormatCheckinReport(std::string_view identifier, std::string_view version);

// Appends the report for the row to buffer; false (buffer untouched) when its executable is not
// a file in the program folder.
bool ComposeCheckinReport(const std::wstring& programFolder, const Product& product, std::string& buffer);

}  // namespace brivon
