// Thousands of damaged documents: each must either parse or be refused, never end the process.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <random>
#include <sstream>
#include <vector>

#include "alerts/model/alert_parser.h"

namespace brivon {
namespace {

using Json = nlohmann::json;

const char* const kSeeds[] = {
    R"({"titulo":"Avisos","color_fondo":"#F0F0F0","color_titulo_fondo":"#0078D7","color_titulo_texto":"#FFFFFF",
        "alertas":[{"tipo":"boton_multiple","columnas":"3","contenido":[
          {"texto":"Uno","enlace":"http://a/1","imagen":"http://a/1.png","color_fondo":"#FF0000","color_texto":"#000000"},
          {"texto":"Dos","enlace":"http://a/2","imagen":"http://a/2.png"},{"texto":"Tres"}]},
        {"tipo":"documento_rtf","contenido":[{"texto":"Condiciones","enlace":"http://a/t.rtf"}]},
        {"tipo":"url_actualizar","contenido":[{"enlace":"http://a/p.zip"}]}]})",
    R"({"alertas":[{"tipo":"solo_mensaje","contenido":[{"texto":"Hola \u00e1","imagen":"http://b/x.jpg"}]}]})",
    "\xEF\xBB\xBF{\"titulo\":\"Atenci\xC3\xB3n\",\"alertas\":[{\"tipo\":\"boton_unico\",\"columnas\":\" 2\"}]}",
    R"({})",
};

void CollectNodes(Json& node, std::vector<Json*>& out) {
  out.push_back(&node);
  if (node.is_structured()) {
    for (auto& child : node) CollectNodes(child, out);
  }
}

Json RandomValue(std::mt19937& rng) {
  switch (rng() % 10) {
    case 0: return nullptr;
    case 1: return true;
    case 2: return static_cast<int>(rng() % 1000) - 500;
    case 3: return 1e300;
    case 4: return Json::array({1, "x", nullptr});
    case 5: return Json::object({{"tipo", 3}, {"contenido", "x"}});
    case 6: return "99999999999";
    case 7: return "#GGGGGG";
    case 8: return std::string(1, static_cast<char>('a' + rng() % 26));
    default: return Json::array();
  }
}

// One step of damage; structural steps apply only while the text is still valid JSON.
std::string Mutate(const std::string& text, std::mt19937& rng) {
  const unsigned kind = rng() % 6;
  if (kind >= 3) {
    Json value = Json::parse(text, nullptr, false);
    if (!value.is_discarded()) {
      std::vector<Json*> nodes;
      CollectNodes(value, nodes);
      Json* node = nodes[rng() % nodes.size()];
      if (kind == 3) {
        *node = RandomValue(rng);  // a value of another type
      } else if (kind == 4) {
        const unsigned depth = 1 + rng() % 200;  // nesting deepened
        for (unsigned i = 0; i < depth; ++i) {
          Json wrapper = (i % 2) ? Json::array() : Json::object();
          if (i % 2) wrapper.push_back(std::move(*node));
          else wrapper["contenido"] = std::move(*node);
          *node = std::move(wrapper);
        }
      } else {
        if (node->is_array() && !node->empty()) std::shuffle(node->begin(), node->end(), rng);
        else if (node->is_object()) (*node)["alertas"] = RandomValue(rng);
      }
      return value.dump();
    }
  }
  std::string out = text;
  if (out.empty()) return "{";
  switch (rng() % 4) {
    case 0:  // bytes flipped
      for (unsigned n = 1 + rng() % 4; n > 0; --n) out[rng() % out.size()] = static_cast<char>(rng() % 256);
      break;
    case 1:  // cut
      out.resize(rng() % out.size());
      break;
    case 2:  // brackets opened deep inside
      out.insert(rng() % out.size(), std::string(1 + rng() % 3000, (rng() % 2) ? '[' : '{'));
      break;
    default:  // a byte dropped
      out.erase(rng() % out.size(), 1);
      break;
  }
  return out;
}

TEST(AlertParserRobustnessTest, TenThousandDamagedDocumentsParseOrAreRefused) {
  std::mt19937 rng(20261207u);
  int parsed = 0;
  int refused = 0;
  for (int round = 0; round < 10000; ++round) {
    std::string text = kSeeds[rng() % std::size(kSeeds)];
    for (unsigned steps = 1 + rng() % 3; steps > 0; --steps) text = Mutate(text, rng);
    AlertDocument document;
    std::istringstream in(text);
    size_t fetches = 0;
    bool ok = ParseAlertStream(in, document, [&fetches](const std::string&) {
      ++fetches;
      return UniqueBitmap();
    });
    if (!ok) {
      ++refused;
      EXPECT_EQ(fetches, 0u) << text;
      EXPECT_TRUE(document.alertas.empty()) << text;
      continue;
    }
    ++parsed;
    for (const Alert& alert : document.alertas) ASSERT_GE(alert.columnas, 1) << text;
  }
  // Both outcomes must be exercised, or the mutations are not doing their job.
  EXPECT_GT(parsed, 1000);
  EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace brivon
