// The entry pictures of one document, from their transfers to the copies a window draws. The
// transfers start side by side within one deadline; one thread takes the bodies in document
// order and admits each against the document's budget from its header, as if they had come one
// by one; a small pool decodes the admitted ones and scales them for the windows that asked,
// the earliest window's first. A window waits only for its own alert's pictures.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "alerts/model/alert_model.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/document_pictures.h"
#include "alerts/window/picture_size.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/wic_decoding.h"
#include "alerts/window/window_fetch.h"
#include "common/unique_handle.h"

namespace brivon {

// Threads that decode and scale: a window's few pictures side by side on a small machine,
// without taking every core of a large one.
inline constexpr size_t kMaxPictureDecoders = 4;

// Decoded pixels that may wait for their bitmaps (which GDI+ makes only once the display is up)
// while the pool decodes further pictures: a first window's pictures, not a document's.
inline constexpr uint64_t kMaxPixelBytesAwaitingBitmaps = 16ull * 1024 * 1024;

class PicturePipeline {
 public:
  // Told once an alert's pictures are all settled and scaled for its latest Prepare, with the
  // copies; on a pool thread, or on the caller's when nothing was left to do.
  using Ready = std::function<void(std::shared_ptr<const ScaledPictures>)>;

  PicturePipeline() = default;
  ~PicturePipeline() { Stop(); }
  PicturePipeline(const PicturePipeline&) = delete;
  PicturePipeline& operator=(const PicturePipeline&) = delete;

  // Starts the transfers of document's entry pictures, their workers kept by keeper (none: they
  // end by themselves). document stays in place until Stop.
  void StartTransfers(AlertDocument& document, FetchWorkers* keeper = nullptr);
  // Starts admitting, decoding and scaling what the transfers bring. GDI+ must run until Stop.
  void StartDecoding();

  // Alert's pictures are to be scaled for layout: those already decoded at once, the others as
  // they are decoded. A second call (a changed screen) starts over with new copies; those of an
  // earlier call are never written again.
  void Prepare(size_t alert, const AlertLayout& layout, Ready ready = nullptr);
  // Waits until alert's pictures have each arrived and been decoded or refused (never past the
  // transfers' deadline) and been scaled for its latest Prepare; its copies.
  std::shared_ptr<const ScaledPictures> WaitFor(size_t alert);
  // The same, for at most timeoutMs: false when not ready by then (copies untouched).
  bool WaitFor(size_t alert, DWORD timeoutMs, std::shared_ptr<const ScaledPictures>* copies);
  // Waits until alert's pictures have each been decoded or refused (no scaling asked).
  void WaitDecoded(size_t alert);
  // Once its window has closed: waits for any scaling that reads alert's pictures, drops what is
  // still queued for them and lets them go. GDI+ must run.
  void Release(size_t alert);
  // Ends the transfers and the threads; what was not decoded stays absent. Before GDI+ shuts down.
  void Stop();

  struct Picture {
    AlertItem* item = nullptr;
    size_t alert = 0;
    size_t index = 0;      // in its alert
    bool settled = false;  // decoded, or refused, or never arrived
  };
  struct AlertPictures {
    size_t unsettled = 0;    // not yet decoded or refused
    bool prepared = false;
    uint64_t generation = 0;
    AlertLayout layout{};
    std::shared_ptr<ScaledPictures> copies;
    size_t scaling = 0;      // of its pictures, still to be scaled for this generation
    size_t reading = 0;      // jobs reading its pictures right now
    bool told = false;       // ready was called for this generation
    Ready ready;
    bool released = false;
  };
  enum class JobKind {
    Scale,   // a copy for generation
    Decode,  // body into pixels, or straight into a bitmap where WIC does not read it
    Bitmap,  // pixels into the picture's bitmap
  };
  struct Job {
    size_t picture = 0;
    JobKind kind = JobKind::Scale;
    uint64_t generation = 0;
    std::string body;
    PictureSize declared;
    uint64_t bodyBytes = 0;  // what it took of the budget, given back when no picture comes of it
    DecodedPixels pixels;
  };
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::optional<PictureDownloads> downloads_;
  std::vector<UniqueHandle> threads_;
};

// Whether alert's pictures are all settled and scaled for its latest preparation.
bool AlertPicturesReady(const PicturePipeline::AlertPictures& alert);

// The next job for a pool thread: the earliest alert's first; within an alert, a scaling, then
// its decodings, then the bitmaps of what was decoded: a bitmap waits for the display, which loads
// meanwhile, and the decodings need none. Once the pixels awaiting bitmaps pass
// kMaxPixelBytesAwaitingBitmaps, the bitmaps before the decodings. The index into jobs, or none.
std::optional<size_t> NextPictureJob(const std::vector<PicturePipeline::Job>& jobs,
                                     const std::vector<PicturePipeline::Picture>& pictures);

// Fetches and decodes every entry picture of the document through a pipeline, admitted in
// document order within one budget (kMaxDocumentPicturePixels, kMaxDocumentPictureBytes), within
// the transfer deadline for them all; nothing is scaled. GDI+ must run.
// alertDecoded, when given, hears the index of each alert with pictures once they are all
// decoded (in document order); nothing here touches that alert's pictures afterwards.
void FetchDocumentPictures(AlertDocument& document,
                           const std::function<void(size_t alertIndex)>& alertDecoded = nullptr);

// Destroys the entry pictures of one alert, once its window has closed and nothing scales them
// any more: an alert's pictures are not held while the alerts after it show. GDI+ must run.
void ReleaseAlertPictures(Alert& alert);

}  // namespace brivon
