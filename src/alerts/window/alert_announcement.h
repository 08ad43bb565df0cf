// What a screen reader says of an alert window: its title is the fixed "ESTO ES UNA ALERTA", so
// the alert's own words go to its accessible description through the system's dynamic annotation.
#pragma once

#include <windows.h>

#include <string>

#include "alerts/model/alert_model.h"

namespace brivon {

// The document's title, then each entry's text, as sentences: "Avisos. Oferta de enero. ...".
// Entries without text (a picture alone) add nothing.
std::wstring AlertAnnouncement(const std::string& documentTitle, const Alert& alert);

// Sets text as the window's accessible description; false where the system offers no annotation
// service. ForgetAnnouncement clears it again before the window goes.
bool AnnounceAlert(HWND window, const std::wstring& text);
void ForgetAnnouncement(HWND window);

}  // namespace brivon
