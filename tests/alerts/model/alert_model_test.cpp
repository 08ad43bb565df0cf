#include "alerts/model/alert_model.h"

#include <gtest/gtest.h>

namespace brivon {
namespace {

TEST(AlertKindTest, OnlyTheExactKeywordsNameAKind) {
  struct Case {
    std::string tipo;
    AlertKind kind;
  } cases[] = {
      {"boton_multiple", AlertKind::BotonMultiple},
      {"boton_unico", AlertKind::BotonUnico},
      {"solo_mensaje", AlertKind::SoloMensaje},
      {"documento_rtf", AlertKind::DocumentoRtf},
      {"url_actualizar", AlertKind::UrlActualizar},
      {"", AlertKind::OtherKind},
      {"Boton_Unico", AlertKind::OtherKind},
      {"URL_ACTUALIZAR", AlertKind::OtherKind},
      {"solo_mensaje ", AlertKind::OtherKind},
      {" solo_mensaje", AlertKind::OtherKind},
      {"boton", AlertKind::OtherKind},
      {std::string("boton_unico\0x", 13), AlertKind::OtherKind},
  };
  for (const auto& c : cases) {
    Alert alert;
    alert.tipo = c.tipo;
    EXPECT_EQ(AlertKindOf(alert), c.kind) << "[" << c.tipo << "]";
  }
  EXPECT_EQ(static_cast<int>(AlertKind::UrlActualizar), 4);  // the values are part of the model
  EXPECT_EQ(static_cast<int>(AlertKind::OtherKind), 5);
}

TEST(ColorFromHexTest, ReadsSevenByteHashColoursAndFallsBackToWhite) {
  struct Case {
    std::string text;
    uint32_t argb;
  } cases[] = {
      {"#0078D7", 0xFF0078D7u},
      {"#0078d7", 0xFF0078D7u},
      {"#000000", 0xFF000000u},
      {"#FFFFFF", 0xFFFFFFFFu},
      {"#123456", 0xFF123456u},
      {"#aBcDeF", 0xFFABCDEFu},
      {"#zz0000", 0xFF000000u},   // non-hex digits count as 0
      {"#12G45x", 0xFF120450u},
      {"#FFF", 0xFFFFFFFFu},
      {"red", 0xFFFFFFFFu},
      {"0078D7F", 0xFFFFFFFFu},   // seven digits, no '#'
      {"#0078D70", 0xFFFFFFFFu},  // eight bytes
      {"", 0xFFFFFFFFu},
      {"#", 0xFFFFFFFFu},
      {" #00000", 0xFFFFFFFFu},
  };
  for (const auto& c : cases) EXPECT_EQ(ColorFromHex(c.text), c.argb) << c.text;
}

TEST(AlertModelTest, StartsWithTheDocumentedValues) {
  AlertDocument document;
  EXPECT_EQ(document.titulo, "");
  EXPECT_EQ(document.color_fondo, "#FFFFFF");
  EXPECT_EQ(document.color_titulo_fondo, "#0078D7");
  EXPECT_EQ(document.color_titulo_texto, "#FFFFFF");
  EXPECT_TRUE(document.alertas.empty());
  Alert alert;
  EXPECT_EQ(alert.columnas, 1);
  AlertItem item;
  EXPECT_EQ(item.color_fondo, "#FFFFFF");
  EXPECT_EQ(item.color_texto, "#000000");
  EXPECT_EQ(item.hitRect.left | item.hitRect.top | item.hitRect.right | item.hitRect.bottom, 0);
  EXPECT_FALSE(item.image);
}

}  // namespace
}  // namespace brivon
