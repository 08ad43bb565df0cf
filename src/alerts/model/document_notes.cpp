#include "alerts/model/document_notes.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "alerts/model/alert_model.h"
#include "common/text.h"

namespace brivon {
namespace {

// Keys in the document's own order, so that the notes follow it.
using Json = nlohmann::ordered_json;

enum class Level { Document, Alert, Entry };

// The keys the parser reads, where it reads them.
struct KnownKey {
  const char* name;
  Level level;
};
constexpr KnownKey kKnownKeys[] = {
    {"titulo", Level::Document},  {"color_fondo", Level::Document}, {"color_titulo_fondo", Level::Document},
    {"color_titulo_texto", Level::Document}, {"alertas", Level::Document},
    {"tipo", Level::Alert},       {"columnas", Level::Alert},       {"contenido", Level::Alert},
    {"texto", Level::Entry},      {"imagen", Level::Entry},         {"enlace", Level::Entry},
    {"color_fondo", Level::Entry}, {"color_texto", Level::Entry},
};

constexpr const char* kKindNames[] = {"boton_multiple", "boton_unico", "solo_mensaje", "documento_rtf",
                                      "url_actualizar"};

const char* LevelName(Level level) {
  switch (level) {
    case Level::Document:
      return "the document";
    case Level::Alert:
      return "an alert";
    case Level::Entry:
      return "an entry";
  }
  return "";
}

bool IsKnown(const std::string& key, Level level) {
  for (const KnownKey& known : kKnownKeys) {
    if (known.level == level && key == known.name) return true;
  }
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A name the writer most likely meant: the same letters in another case, or one or two slips away.
std::string NearestName(const std::string& written, const std::vector<std::string>& names) {
  const std::string lower = Lower(written);
  std::string nearest;
  size_t best = 3;
  for (const std::string& name : names) {
    const size_t distance = lower == name ? 0 : EditDistance(lower, name);
    if (distance < best && written.size() >= 3) {
      best = distance;
      nearest = name;
    }
  }
  return nearest;
}

// A written value as a note quotes it: on one line, and not the whole of a long one.
std::string Quoted(const std::string& value) {
  size_t length = value.size();
  if (length > 60) {
    length = 60;
    while (length > 0 && (static_cast<unsigned char>(value[length]) & 0xC0) == 0x80) --length;  // a whole letter
  }
  std::string shown;
  for (char c : value.substr(0, length)) shown += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return "\"" + shown + (length < value.size() ? "...\"" : "\"");
}

std::string TypeName(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "true or false";
    case Json::value_t::array:
      return "a list";
    case Json::value_t::object:
      return "an object";
    case Json::value_t::string:
      return "a text";
    default:
      return "a number";
  }
}

std::string ColourText(uint32_t argb) {
  char text[8];
  std::snprintf(text, sizeof(text), "#%06X", static_cast<unsigned>(argb & 0xFFFFFFu));
  return text;
}

std::string Columns(long long count) { return std::to_string(count) + (count == 1 ? " column" : " columns"); }

class NoteTaker {
 public:
  explicit NoteTaker(std::vector<DocumentNote>& notes) : notes_(notes) {}

  void Add(size_t alert, size_t entry, std::string key, std::string text) {
    notes_.push_back(DocumentNote{alert, entry, std::move(key), std::move(text)});
  }

  void NoteUnread(size_t alert, size_t entry, const std::string& key, Level level) {
    std::string elsewhere;
    for (Level other : {Level::Document, Level::Alert, Level::Entry}) {
      if (other == level || !IsKnown(key, other)) continue;
      elsewhere += (elsewhere.empty() ? "" : " or ") + std::string(LevelName(other));
    }
    if (!elsewhere.empty()) {
      Add(alert, entry, key, "a key of " + elsewhere + ", not of " + LevelName(level) + ": ignored");
      return;
    }
    std::vector<std::string> names;
    for (const KnownKey& known : kKnownKeys) {
      if (known.level == level) names.emplace_back(known.name);
    }
    const std::string meant = NearestName(key, names);
    Add(alert, entry, key,
        "a key the program does not read: ignored" + (meant.empty() ? "" : " (did you mean \"" + meant + "\"?)"));
  }

  // A text key of another type counts as absent.
  void NoteNotText(size_t alert, size_t entry, const std::string& key, const Json& value, const std::string& then) {
    Add(alert, entry, key, "is " + TypeName(value) + ", not a text: counts as absent" + then);
  }

  void NoteColour(size_t alert, size_t entry, const std::string& key, const Json& value, const std::string& fallback) {
    if (!value.is_string()) {
      NoteNotText(alert, entry, key, value, ", drawn as " + ColourText(ColorFromHex(fallback)));
      return;
    }
    const std::string colour = value.get<std::string>();
    const std::string drawn = ColourText(ColorFromHex(colour));
    if (colour.size() != 7 || colour[0] != '#') {
      Add(alert, entry, key, Quoted(colour) + " is no #RRGGBB colour: drawn as " + drawn);
      return;
    }
    for (size_t i = 1; i < colour.size(); ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(colour[i]))) {
        Add(alert, entry, key,
            Quoted(colour) + " holds a character that is no hexadecimal digit, counted as 0: drawn as " + drawn);
        return;
      }
    }
  }

  void NoteColumns(size_t alert, const Json& value, size_t entries) {
    int32_t columns = 1;
    if (!value.is_string()) {
      std::string text = "is " + TypeName(value) + ", not a text: read as 1 column";
      if (value.is_number_integer() && value.get<long long>() > 1) {
        text += " (write it as a text: \"" + value.dump() + "\")";
      }
      Add(alert, 0, "columnas", text);
    } else {
      const std::string written = value.get<std::string>();
      columns = ColumnsFromText(written);
      // Only digits that say the number read pass without a note ("03" is 3); " 3" and "3a" are
      // read as 3 too, but are not written so.
      const bool digits = !written.empty() && written.find_first_not_of("0123456789") == std::string::npos;
      const size_t lead = written.find_first_not_of('0');
      const std::string significant = lead == std::string::npos ? "0" : written.substr(lead);
      if (!digits || significant != std::to_string(columns)) {
        Add(alert, 0, "columnas", Quoted(written) + " is read as " + Columns(columns));
      }
    }
    if (entries > 0 && static_cast<size_t>(columns) > entries) {
      Add(alert, 0, "columnas",
          Columns(columns) + " for " + std::to_string(entries) + (entries == 1 ? " entry" : " entries") +
              ": drawn as " + Columns(static_cast<long long>(entries)));
    }
  }

  void NoteEntry(size_t alert, size_t entry, const Json& element, const std::string& tipo, AlertKind kind,
                 const AlertItem& defaults) {
    bool picture = false;
    for (const auto& [key, value] : element.items()) {
      if (!IsKnown(key, Level::Entry)) {
        NoteUnread(alert, entry, key, Level::Entry);
      } else if (key == "color_fondo") {
        NoteColour(alert, entry, key, value, defaults.color_fondo);
      } else if (key == "color_texto") {
        NoteColour(alert, entry, key, value, defaults.color_texto);
      } else if (!value.is_string()) {
        NoteNotText(alert, entry, key, value, "");
      } else if (key == "imagen") {
        picture = !value.get<std::string>().empty();
      }
    }
    if (entry > 1 && kind != AlertKind::BotonMultiple && kind != AlertKind::OtherKind) {
      Add(alert, entry, "",
          "not used: a \"" + tipo + "\" alert uses its first entry alone" +
              (picture ? " (its picture is fetched all the same)" : ""));
    }
  }

  void NoteAlert(size_t alert, const Json& element, const AlertItem& defaults) {
    std::string tipo;
    auto found = element.find("tipo");
    if (found == element.end()) {
      Add(alert, 0, "tipo", "missing: an alert of no kind shows only its title band and close bar");
    } else if (found->is_string()) {
      tipo = found->get<std::string>();
    }
    Alert asRead;
    asRead.tipo = tipo;
    const AlertKind kind = AlertKindOf(asRead);
    size_t entries = 0;
    auto contenido = element.find("contenido");
    if (contenido != element.end() && contenido->is_array()) {
      for (const Json& entry : *contenido) entries += entry.is_object() ? 1 : 0;
    }
    for (const auto& [key, value] : element.items()) {
      if (!IsKnown(key, Level::Alert)) {
        NoteUnread(alert, 0, key, Level::Alert);
      } else if (key == "tipo") {
        NoteKind(alert, value, kind);
      } else if (key == "columnas") {
        if (kind == AlertKind::BotonMultiple) {
          NoteColumns(alert, value, entries);
        } else if (kind != AlertKind::OtherKind) {
          Add(alert, 0, key, "only a boton_multiple alert has columns: ignored");
        }
      } else if (!value.is_array()) {
        Add(alert, 0, key, "is " + TypeName(value) + ", not a list: the alert has no entries");
      } else {
        size_t entry = 0;
        size_t position = 0;
        for (const Json& item : value) {
          ++position;
          if (!item.is_object()) {
            Add(alert, 0, key,
                "its element " + std::to_string(position) + " is " + TypeName(item) +
                    ", not an object: skipped (the entries here are numbered without it)");
            continue;
          }
          NoteEntry(alert, ++entry, item, tipo, kind, defaults);
        }
      }
    }
    if (entries == 0 && kind != AlertKind::OtherKind && (contenido == element.end() || contenido->is_array())) {
      Add(alert, 0, "contenido", contenido == element.end() ? "missing: the alert has no entries" : "holds no entry");
    }
  }

  void NoteKind(size_t alert, const Json& value, AlertKind kind) {
    const std::string then = ": only the title band and the close bar are shown";
    if (!value.is_string()) {
      Add(alert, 0, "tipo", "is " + TypeName(value) + ", not a text: no kind" + then);
      return;
    }
    if (kind != AlertKind::OtherKind) return;
    const std::string meant = NearestName(value.get<std::string>(), {std::begin(kKindNames), std::end(kKindNames)});
    Add(alert, 0, "tipo",
        Quoted(value.get<std::string>()) + " is no kind the program knows" +
            (meant.empty() ? " (boton_multiple, boton_unico, solo_mensaje, documento_rtf, url_actualizar)"
                           : " (did you mean \"" + meant + "\"? the match is exact)") +
            then);
  }

  void NoteDocument(const Json& root, const AlertDocument& defaults, const AlertItem& entryDefaults) {
    for (const auto& [key, value] : root.items()) {
      if (!IsKnown(key, Level::Document)) {
        NoteUnread(0, 0, key, Level::Document);
      } else if (key == "titulo") {
        if (!value.is_string()) NoteNotText(0, 0, key, value, ", the title band says " + Quoted(defaults.titulo));
      } else if (key == "color_fondo") {
        NoteColour(0, 0, key, value, defaults.color_fondo);
      } else if (key == "color_titulo_fondo") {
        NoteColour(0, 0, key, value, defaults.color_titulo_fondo);
      } else if (key == "color_titulo_texto") {
        NoteColour(0, 0, key, value, defaults.color_titulo_texto);
      } else if (!value.is_array()) {
        Add(0, 0, key, "is " + TypeName(value) + ", not a list: the document is read as one without alerts");
      } else {
        size_t alert = 0;
        size_t position = 0;
        for (const Json& element : value) {
          ++position;
          if (!element.is_object()) {
            Add(0, 0, key,
                "its element " + std::to_string(position) + " is " + TypeName(element) +
                    ", not an object: skipped (the alerts here are numbered without it)");
            continue;
          }
          NoteAlert(++alert, element, entryDefaults);
        }
      }
    }
  }

 private:
  std::vector<DocumentNote>& notes_;
};

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string DocumentNoteLine(const DocumentNote& note) {
  std::string line = "note: ";
  line += note.alert == 0 ? std::string("document") : "alert " + std::to_string(note.alert);
  if (note.alert != 0 && note.entry != 0) line += ", entry " + std::to_string(note.entry);
  if (!note.key.empty()) line += ", \"" + note.key + "\"";
  return line + ": " + note.text;
}

std::vector<DocumentNote> DocumentNotes(std::string_view text, const DocumentReading& reading) {
  std::vector<DocumentNote> notes;
  NoteTaker taker(notes);
  if (reading.fault == DocumentFault::NotJson) {
    const std::string where = reading.byte != 0 ? ": reading stopped at byte " + std::to_string(reading.byte) : "";
    taker.Add(0, 0, "", "not JSON" + where + ", nothing is shown");
    return notes;
  }
  if (reading.fault == DocumentFault::RootNotObject) {
    taker.Add(0, 0, "", "JSON, but not an object: nothing is read from it, nothing is shown");
    return notes;
  }
  if (!reading.parsed) return notes;
  if (reading.windows1252) taker.Add(0, 0, "", "not UTF-8: read as Windows-1252, its texts and addresses too");
  // What the parser read: the text itself, or its Windows-1252 reading.
  const std::string read = reading.windows1252 ? WideToUtf8(DocumentTextToWide(text)) : std::string(text);
  try {
    Json root;
    std::istringstream in(read);
    in >> root;
    in.clear();
    const std::streamoff end = in.tellg();
    if (end >= 0) {
      size_t rest = static_cast<size_t>(end);
      while (rest < read.size() && IsJsonSpace(read[rest])) ++rest;
      if (rest < read.size()) {
        taker.Add(0, 0, "",
                  reading.windows1252 ? "text after its JSON value is never read"
                                      : "text after its JSON value, from byte " + std::to_string(rest + 1) +
                                            ", is never read");
      }
    }
    // The model's own values where the document gives none.
    AlertDocument defaults;
    ParseAlertText(R"({"alertas":[{"contenido":[{}]}]})", defaults, {});
    const AlertItem noEntry;
    const bool haveEntry = !defaults.alertas.empty() && !defaults.alertas.front().contenido.empty();
    taker.NoteDocument(root, defaults, haveEntry ? defaults.alertas.front().contenido.front() : noEntry);
  } catch (const std::exception&) {
    // Read once already by the parser: only memory can fail here, and the notes so far stand.
  }
  return notes;
}

void SortDocumentNotes(std::vector<DocumentNote>& notes) {
  std::stable_sort(notes.begin(), notes.end(), [](const DocumentNote& a, const DocumentNote& b) {
    return a.alert != b.alert ? a.alert < b.alert : a.entry < b.entry;
  });
}

std::string GroupedNumber(unsigned long long value) {
  std::string digits = std::to_string(value);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

}  // namespace brivon
