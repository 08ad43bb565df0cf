// The decisions behind clicks: which links open, the close line, the acceptance line.
#include <gtest/gtest.h>

#include "alerts/window/alert_actions.h"
#include "alerts/window/alert_announcement.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/link_policy.h"
#include "alerts/window/terms_document.h"
#include "support/test_env.h"

namespace brivon {
namespace {

TEST(AlertWindowsActions, OnlyWebAddressesGoToTheBrowser) {
  struct Case {
    const char* link;
    bool opens;
  } cases[] = {
      {"http://example.com/oferta", true},
      {"https://example.com/oferta?x=1", true},
      {"HTTPS://EXAMPLE.COM/", true},
      {"hTTp://example.com", true},
      {"file:///C:/Windows/System32/calc.exe", false},
      {"C:\\Windows\\System32\\calc.exe", false},
      {"\\\\servidor\\recurso\\programa.exe", false},
      {"calc.exe", false},
      {"javascript:alert(1)", false},
      {"ftp://example.com/", false},
      {"mailto:a@b.c", false},
      {" http://example.com", false},   // a leading blank is not a web address
      {"http:", false},
      {"https:/x", false},
      {"httpx://example.com", false},
      {"", false},
      // Whatever could split the browser's command line, or ride on it.
      {"http://example.com/a b", false},
      {"http://example.com/a\" --new-window \"b", false},
      {"http://example.com/\tx", false},
      {"http://example.com/\r\nx", false},
      {"http://example.com/x\x7f", false},
      {"http://example.com/\xc2\xa0x", false},     // a no-break space, in UTF-8
      {"http://example.com/x\xe2\x80\xa8", false},  // a line separator
      {"http://", false},                          // no host
      {"http:///oferta", false},
      // Letters beyond ASCII, in UTF-8 or in Windows-1252, are part of the address.
      {"http://example.com/promoci\xc3\xb3n", true},
      {"http://example.com/promoci\xf3n", true},
      {"http://example.com/a%20b?c='d'#e", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsBrowserLink(c.link), c.opens) << c.link;
}

AlertItem Clickable(const std::string& link, RECT hit) {
  AlertItem item;
  item.enlace = link;
  item.hitRect = hit;
  return item;
}

TEST(AlertWindowsActions, ClickOpensEveryHitEntryInOrder) {
  Alert alert;
  alert.contenido.push_back(Clickable("http://a/", RECT{10, 10, 100, 100}));
  alert.contenido.push_back(Clickable("", RECT{10, 10, 100, 100}));           // no link
  alert.contenido.push_back(Clickable("https://b/", RECT{50, 50, 200, 200}));  // overlaps the first
  alert.contenido.push_back(Clickable("cmd.exe", RECT{0, 0, 300, 300}));      // not a web address
  alert.contenido.push_back(Clickable("http://c/", RECT{0, 0, 0, 0}));        // not drawn
  struct Case {
    int32_t x, y;
    std::vector<std::string> links;
  } cases[] = {
      {60, 60, {"http://a/", "https://b/"}},
      {10, 10, {"http://a/"}},
      {100, 100, {"http://a/", "https://b/"}},
      {200, 200, {"https://b/"}},
      {201, 200, {}},
      {0, 0, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(LinksAt(alert, c.x, c.y), c.links) << c.x << "," << c.y;
}

TEST(AlertWindowsActions, CloseLineNamesTheCandidateAndTheOutcome) {
  const std::wstring candidate = L"C:\\Programa\\brivon2.exe";
  EXPECT_EQ(CloseLineText(candidate, CloseArchiveOutcome::Missing, L""),
            "CIERRE_ARCHIVAR_ZIP;C:\\Programa\\brivon2.exe;NO_EXISTE");
  EXPECT_EQ(CloseLineText(candidate, CloseArchiveOutcome::Failed, L""),
            "CIERRE_ARCHIVAR_ZIP;C:\\Programa\\brivon2.exe;ERROR");
  EXPECT_EQ(CloseLineText(candidate, CloseArchiveOutcome::Archived, L"C:\\Programa\\versiones\\a.zip"),
            "CIERRE_ARCHIVAR_ZIP;C:\\Programa\\brivon2.exe;C:\\Programa\\versiones\\a.zip");
  EXPECT_EQ(CloseLineText(L"C:\\Se\u00f1al\\brivon2.exe", CloseArchiveOutcome::Missing, L""),
            "CIERRE_ARCHIVAR_ZIP;C:\\Se\xf1" "al\\brivon2.exe;NO_EXISTE");
}

TEST(AlertWindowsActions, CloseBarIgnoresClicksForADoubleClickTimeAfterShowing) {
  struct Case {
    DWORD now, shownAt;
    UINT doubleClickMs;
    bool takes;
  } cases[] = {
      {1000, 1000, 500, false},  // the second click of a double click on the previous window
      {1499, 1000, 500, false},
      {1500, 1000, 500, true},
      {9000, 1000, 500, true},
      {200, 0xFFFFFF00u, 500, false},  // across the tick count's wrap
      {300, 0xFFFFFF00u, 500, true},
      {1000, 1000, 0, true},
      {990, 1000, 500, false},  // clicked before the window showed, handled after its first paint
      {990, 1000, 0, false},
      {0xFFFFFFF0u, 5, 500, false},  // the same, across the wrap
  };
  for (const Case& c : cases) EXPECT_EQ(CloseBarTakesClick(c.now, c.shownAt, c.doubleClickMs), c.takes) << c.now;
}

TEST(AlertWindowsActions, AcceptanceLine) {
  SYSTEMTIME when{};
  when.wYear = 2026;
  when.wMonth = 3;
  when.wDay = 7;
  when.wHour = 9;
  when.wMinute = 5;
  when.wSecond = 1;
  EXPECT_EQ(AcceptanceLine(when, "http://x/terminos.rtf"), "2026-03-07 09:05:01;http://x/terminos.rtf\n");
  EXPECT_EQ(AcceptanceLine(when, ""), "2026-03-07 09:05:01;\n");
  EXPECT_EQ(AcceptanceLine(when, "http://x/t.rtf#\r\n2026-03-07 09:05:02;http://falso/"),
            "2026-03-07 09:05:01;http://x/t.rtf#  2026-03-07 09:05:02;http://falso/\n");
  EXPECT_EQ(AcceptanceLine(when, std::string("http://x/t.rtf\0\r\n", 17)), "2026-03-07 09:05:01;http://x/t.rtf   \n");
}

// Only an RTF document that arrived whole with a 2xx status, shows text and ends where its
// top-level group closes may be accepted.
TEST(AlertWindowsActions, OnlyAnRtfDocumentThatArrivedCountsAsTheTerms) {
  const std::string rtf = "{\\rtf1\\ansi Terminos\\par}";
  const std::string portal = "<!DOCTYPE html><html><body>Inicie sesion en la red</body></html>";
  // "{\rtf" in UTF-16 with its byte-order mark, as a text editor saves it.
  const std::string utf16("\xff\xfe{\0\\\0r\0t\0f\0" "1\0", 14);
  const std::string saved = testing::ReadBytes(testing::SourcePath("tests/fixtures/demo/terminos.rtf"));
  struct Case {
    bool complete;
    unsigned long status;
    std::string body;
    TermsRefusal refusal;
  } cases[] = {
      {true, 200, rtf, TermsRefusal::None},
      {true, 204, rtf, TermsRefusal::None},
      {true, 299, rtf, TermsRefusal::None},
      {true, 0, rtf, TermsRefusal::None},                 // ftp: no status, what arrived is the document
      {true, 200, std::string("{\\rtf1 a\\bin1 \0 b}", 18), TermsRefusal::None},
      {true, 200, saved, TermsRefusal::None},             // as a word processor saves it, CR LF after
      {true, 200, "{\\rtf1 Hola}", TermsRefusal::None},
      {true, 200, "{\\rtf1 Hola}\r\n \t", TermsRefusal::None},
      {true, 200, std::string("{\\rtf1 Hola}\0\0", 14), TermsRefusal::None},  // saved with its terminator
      {true, 200, "{\\rtf1 \\'e1}", TermsRefusal::None},
      {true, 200, "{\\rtf1{\\*\\datos\\bin2 }}}Hola}", TermsRefusal::None},  // braces in binary data
      {true, 200, "{\\rtf1}", TermsRefusal::NoText},
      {true, 200, "{\\rtf1 {\\fonttbl{\\f0 Arial;}}}", TermsRefusal::NoText},
      {true, 200, "{\\rtf1\\ansi{\\info{\\title Terminos}}{\\*\\generator Riched20;}\\par\\tab \\~ }",
       TermsRefusal::NoText},
      {true, 200, "{\\rtf1 Hola}}", TermsRefusal::BadEnd},   // the group closes before the end
      {true, 200, "{\\rtf1 Hola} y esto no se ve", TermsRefusal::BadEnd},
      {true, 200, "{\\rtf1 Hola", TermsRefusal::BadEnd},    // never closes
      {true, 200, "{\\rtf1 Hola\\}", TermsRefusal::BadEnd},
      {true, 200, portal, TermsRefusal::NotRtf},          // a captive portal's page, or where it redirected
      {true, 200, utf16, TermsRefusal::NotRtf},
      {true, 200, "\xef\xbb\xbf" + rtf, TermsRefusal::NotRtf},  // a byte-order mark first
      {true, 200, " " + rtf, TermsRefusal::NotRtf},
      {true, 200, "{\\rt", TermsRefusal::NotRtf},
      {true, 200, "Terminos de uso", TermsRefusal::NotRtf},
      {true, 200, "", TermsRefusal::NotRtf},
      {true, 0, "", TermsRefusal::NotRtf},
      {true, 404, "<html>No encontrado</html>", TermsRefusal::Status},
      {true, 500, rtf, TermsRefusal::Status},
      {true, 302, rtf, TermsRefusal::Status},             // a redirect not followed
      {true, 199, rtf, TermsRefusal::Status},
      {true, 300, rtf, TermsRefusal::Status},
      {false, 404, "<html>No", TermsRefusal::Status},
      {false, 200, rtf.substr(0, 10), TermsRefusal::NotFetched},  // broke off, or past its deadline
      {false, 0, "", TermsRefusal::NotFetched},           // no answer at all
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JudgeTermsAnswer(c.complete, c.status, c.body), c.refusal) << c.complete << " " << c.status << " " << c.body;
  }
}

TEST(AlertWindowsActions, TermsRefusalLineSaysWhy) {
  HttpGetOutcome outcome;
  outcome.httpStatus = 200;
  outcome.error = 12002;
  const std::string address = "http://x/t.rtf";
  EXPECT_EQ(TermsRefusalLine(address, TermsRefusal::NotRtf, outcome, 512, {}),
            "TERMINOS_RECHAZADOS;http://x/t.rtf;motivo=NO_ES_RTF;bytes=512");
  EXPECT_EQ(TermsRefusalLine(address, TermsRefusal::NoText, outcome, 7, {}),
            "TERMINOS_RECHAZADOS;http://x/t.rtf;motivo=SIN_TEXTO;bytes=7");
  EXPECT_EQ(TermsRefusalLine(address, TermsRefusal::BadEnd, outcome, 13, {}),
            "TERMINOS_RECHAZADOS;http://x/t.rtf;motivo=CIERRE_INCORRECTO;bytes=13");
  EXPECT_EQ(TermsRefusalLine(address, TermsRefusal::NotFetched, outcome, 0, {}),
            "TERMINOS_RECHAZADOS;http://x/t.rtf;motivo=NO_DESCARGADO;err=12002");
  EXPECT_EQ(TermsRefusalLine(address, TermsRefusal::NotLoaded, outcome, 9000, TermsLoad{4096, 7}),
            "TERMINOS_RECHAZADOS;http://x/t.rtf;motivo=CARGA_INCOMPLETA;leidos=4096;bytes=9000;err=7");
  outcome.httpStatus = 404;
  EXPECT_EQ(TermsRefusalLine(address, TermsRefusal::Status, outcome, 30, {}),
            "TERMINOS_RECHAZADOS;http://x/t.rtf;motivo=ESTADO;estado=404");
}

// The keyboard in an alert window: Tab between the terms box and the accept button, Enter or Space
// pressed on the button and released there, Esc where the close bar would close.
TEST(AlertWindowsActions, KeysMoveBetweenTheTermsAndPressOrClose) {
  const KeyContext message{AlertFocus::Window, false, false, true};
  const KeyContext update{AlertFocus::Window, false, false, false};
  const KeyContext termsInBox{AlertFocus::TermsBox, true, true, true};
  const KeyContext termsInBoxWaiting{AlertFocus::TermsBox, true, false, true};
  const KeyContext termsOnButton{AlertFocus::AcceptButton, true, true, true};
  const KeyContext termsUnfocused{AlertFocus::Window, true, false, true};
  const KeyContext termsSaving{AlertFocus::Window, true, false, true, true};
  const KeyContext spaceDownOnButton{AlertFocus::AcceptButton, true, true, true, false, VK_SPACE};
  const KeyContext enterDownOnButton{AlertFocus::AcceptButton, true, true, true, false, VK_RETURN};
  const KeyContext spaceDownOnDisabledButton{AlertFocus::AcceptButton, true, false, true, false, VK_SPACE};
  using S = KeyStroke;
  struct Case {
    UINT key;
    KeyStroke stroke;
    KeyContext context;
    KeyAction action;
  } cases[] = {
      {VK_ESCAPE, S::Pressed, message, KeyAction::Close},
      {VK_ESCAPE, S::Repeated, message, KeyAction::None},  // held from the previous alert
      {VK_ESCAPE, S::Released, message, KeyAction::None},  // let go of after closing the previous alert
      {VK_ESCAPE, S::Pressed, update, KeyAction::None},    // an update window has no close bar
      {VK_ESCAPE, S::Pressed, termsOnButton, KeyAction::Close},
      {VK_ESCAPE, S::Pressed, termsSaving, KeyAction::None},  // closes itself once the acceptance is saved
      {VK_TAB, S::Pressed, termsUnfocused, KeyAction::FocusBox},
      {VK_TAB, S::Pressed, termsInBox, KeyAction::FocusButton},
      {VK_TAB, S::Pressed, termsInBoxWaiting, KeyAction::None},  // a disabled button takes no keyboard
      {VK_TAB, S::Pressed, termsOnButton, KeyAction::FocusBox},
      {VK_TAB, S::Released, termsInBox, KeyAction::None},
      {VK_TAB, S::Pressed, message, KeyAction::None},
      {VK_SPACE, S::Pressed, termsOnButton, KeyAction::HoldButton},  // accepts once released
      {VK_RETURN, S::Pressed, termsOnButton, KeyAction::HoldButton},
      {VK_SPACE, S::Released, spaceDownOnButton, KeyAction::PressButton},
      {VK_RETURN, S::Released, enterDownOnButton, KeyAction::PressButton},
      {VK_SPACE, S::Repeated, spaceDownOnButton, KeyAction::None},
      {VK_RETURN, S::Repeated, enterDownOnButton, KeyAction::None},
      // Held from before the button had the keyboard: its repeats and its release press nothing.
      {VK_SPACE, S::Repeated, termsOnButton, KeyAction::None},
      {VK_RETURN, S::Repeated, termsOnButton, KeyAction::None},
      {VK_SPACE, S::Released, termsOnButton, KeyAction::None},
      {VK_RETURN, S::Released, spaceDownOnButton, KeyAction::None},  // not the key pressed there
      {VK_SPACE, S::Released, spaceDownOnDisabledButton, KeyAction::None},
      {VK_SPACE, S::Pressed, termsInBox, KeyAction::None},
      {VK_RETURN, S::Pressed, termsUnfocused, KeyAction::None},
      {VK_RETURN, S::Pressed, message, KeyAction::None},
      {VK_F4, S::Pressed, message, KeyAction::None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ActionForKey(c.key, c.stroke, c.context), c.action)
        << c.key << " focus " << static_cast<int>(c.context.focus) << " stroke " << static_cast<int>(c.stroke)
        << " held " << c.context.heldOnButton;
  }
}

// What a screen reader is given of an alert: the document's title and the entries' texts, as
// sentences; a picture alone adds nothing. (Wine's annotation service answers E_NOTIMPL: only a
// Windows desk hears it.)
TEST(AlertWindowsActions, AnAlertIsAnnouncedByItsTitleAndTexts) {
  auto alertOf = [](std::vector<std::string> texts) {
    Alert alert;
    for (std::string& text : texts) {
      alert.contenido.emplace_back();
      alert.contenido.back().texto = std::move(text);
    }
    return alert;
  };
  struct Case {
    std::string title;
    std::vector<std::string> texts;
    std::wstring said;
  } cases[] = {
      {"Avisos", {"Oferta de enero", "Nuevo m\xc3\xb3" "dulo"}, L"Avisos. Oferta de enero. Nuevo m\u00f3dulo"},
      {"Avisos", {"", "  ", "Solo texto"}, L"Avisos. Solo texto"},  // pictures alone
      {"", {"Sin t\xedtulo"}, L"Sin t\u00edtulo"},                   // Windows-1252, as the windows read it
      {"", {}, L""},
  };
  for (const Case& c : cases) EXPECT_EQ(AlertAnnouncement(c.title, alertOf(c.texts)), c.said) << c.title;
}

TEST(AlertWindowsActions, ShowCommandNeverHidesAnAlert) {
  struct Case {
    int asked, used;
  } cases[] = {
      {SW_HIDE, SW_SHOWNORMAL},          {SW_SHOWMINIMIZED, SW_SHOWNORMAL}, {SW_MINIMIZE, SW_SHOWNORMAL},
      {SW_SHOWMINNOACTIVE, SW_SHOWNORMAL}, {SW_FORCEMINIMIZE, SW_SHOWNORMAL}, {SW_SHOWNORMAL, SW_SHOWNORMAL},
      {SW_SHOWMAXIMIZED, SW_SHOWMAXIMIZED}, {SW_SHOWDEFAULT, SW_SHOWDEFAULT}, {SW_SHOW, SW_SHOW},
      {SW_SHOWNA, SW_SHOWNA},
  };
  for (const Case& c : cases) EXPECT_EQ(AlertShowCommand(c.asked), c.used) << c.asked;
}

}  // namespace
}  // namespace brivon
