// What a screen reader says of an alert window: its title is the fixed "ESTO ES UNA ALERTA", so
// the alert's own words go to its accessible description through the system's dynamic annotation.
#pragma once

#include <windows.h>

#include <string>

#include "alerts/model/alert_model.h"
#include "common/unique_handle.h"

struct IAccPropServices;

namespace brivon {

// The document's title, then each entry's text, as sentences: "Avisos. Oferta de enero. ...".
// Entries without text (a picture alone) add nothing.
std::wstring AlertAnnouncement(const std::string& documentTitle, const Alert& alert);

// The annotation service for the windows of one run, on their thread: COM starts once, at the
// first announcement (after its window is shown, so that no first paint waits for it), and ends
// with the announcer, once the last window has gone.
class AlertAnnouncer {
 public:
  AlertAnnouncer() = default;
  ~AlertAnnouncer();
  AlertAnnouncer(const AlertAnnouncer&) = delete;
  AlertAnnouncer& operator=(const AlertAnnouncer&) = delete;

  // Sets text as the window's accessible description; false where the system offers no
  // annotation service. Forget clears it again before the window goes.
  bool Announce(HWND window, const std::wstring& text);
  void Forget(HWND window);

 private:
  struct ServicesTraits {
    static IAccPropServices* Invalid() { return nullptr; }
    static void Close(IAccPropServices* services);  // Release
  };
  IAccPropServices* Services();

  UniqueModule ole_;
  bool tried_ = false;
  bool comStarted_ = false;  // ended by the destructor, once the service is released
  UniqueAny<IAccPropServices*, ServicesTraits> services_;
};

}  // namespace brivon
