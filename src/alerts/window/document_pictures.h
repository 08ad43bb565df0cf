// The pictures of the document's entries, fetched before the first window shows. They share one
// deadline: a few are fetched side by side on worker threads, each transfer cut at what is left
// of the shared deadline, so the first window follows within it whatever the picture hosts do.
// A picture not whole by then is absent for the run: its entry is drawn without it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "alerts/model/alert_model.h"
#include "alerts/window/window_fetch.h"

namespace brivon {

// How many transfers run at once: WinINet itself opens four to six connections to one server
// (four through a proxy) and queues the rest.
inline constexpr size_t kPicturesSideBySide = 4;
// How far the transfers may run ahead of the decoding, in pictures: bodies that arrived wait in
// memory (up to 32 MiB each) until the pictures before them are decoded.
inline constexpr size_t kPicturesAhead = 8;

// The bodies at `addresses`, fetched side by side within deadlineMs for them all. Take(i) waits for
// picture i, never past the deadline (and a moment for a transfer to end once cut), and gives its
// body, or "" when it failed or did not arrive in time. Take them in order: the transfers run
// only kPicturesAhead past the last one taken. Workers still running when the object goes finish
// on their own and free what they hold.
class PictureDownloads {
 public:
  // The workers are kept by keeper until the run ends (none: they end by themselves).
  PictureDownloads(std::vector<std::string> addresses, DWORD deadlineMs, FetchWorkers* keeper = nullptr);
  ~PictureDownloads();
  PictureDownloads(const PictureDownloads&) = delete;
  PictureDownloads& operator=(const PictureDownloads&) = delete;

  std::string Take(size_t index);
  // Drops every body and wakes a Take waiting on another thread: it gives "" at once, as every
  // Take after it does.
  void Abandon();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace brivon
