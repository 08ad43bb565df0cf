#include "alerts/window/picture_pipeline.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "alerts/window/remote_resources.h"
#include "common/test_hooks.h"

namespace brivon {

struct PicturePipeline::Shared {
  std::mutex lock;
  std::condition_variable changed;
  AlertDocument* document = nullptr;
  PictureDownloads* downloads = nullptr;
  std::vector<Picture> pictures;
  std::vector<AlertPictures> alerts;
  std::vector<Job> jobs;
  PictureBudget budget;
  size_t poolThreads = 0;
  bool stopping = false;
};

bool AlertPicturesReady(const PicturePipeline::AlertPictures& alert) {
  return alert.prepared && alert.unsettled == 0 && alert.scaling == 0;
}

std::optional<size_t> NextPictureJob(const std::vector<PicturePipeline::Job>& jobs,
                                     const std::vector<PicturePipeline::Picture>& pictures) {
  using Kind = PicturePipeline::JobKind;
  uint64_t awaiting = 0;
  for (const PicturePipeline::Job& job : jobs) {
    if (job.kind == Kind::Bitmap) awaiting += job.pixels.rows.size();
  }
  const bool bitmapsFirst = awaiting >= kMaxPixelBytesAwaitingBitmaps;
  const auto rank = [bitmapsFirst](Kind kind) {
    switch (kind) {
      case Kind::Scale:
        return 0;
      case Kind::Decode:
        return bitmapsFirst ? 2 : 1;
      case Kind::Bitmap:
        return bitmapsFirst ? 1 : 2;
    }
    return 3;
  };
  std::optional<size_t> best;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].picture >= pictures.size()) continue;
    if (!best) {
      best = i;
      continue;
    }
    const PicturePipeline::Job& a = jobs[i];
    const PicturePipeline::Job& b = jobs[*best];
    const size_t alertA = pictures[a.picture].alert, alertB = pictures[b.picture].alert;
    if (alertA != alertB) {
      if (alertA < alertB) best = i;
    } else if (a.kind != b.kind) {
      if (rank(a.kind) < rank(b.kind)) best = i;
    } else if (a.picture < b.picture) {
      best = i;
    }
  }
  return best;
}

namespace {

using Shared = PicturePipeline::Shared;
using Tell = std::pair<PicturePipeline::Ready, std::shared_ptr<const ScaledPictures>>;

// Marks the alert told when it has just become ready; what to tell, once the lock is let go.
void CheckReady(Shared& shared, size_t alert, std::vector<Tell>& tell) {
  PicturePipeline::AlertPictures& pictures = shared.alerts[alert];
  if (pictures.told || !AlertPicturesReady(pictures)) return;
  pictures.told = true;
  if (pictures.ready) tell.emplace_back(pictures.ready, pictures.copies);
  shared.changed.notify_all();
}

void TellReady(std::vector<Tell>& tell) {
  for (Tell& one : tell) {
    try {
      one.first(std::move(one.second));
    } catch (...) {
      // A window that cannot be told draws its pictures itself.
    }
  }
  tell.clear();
}

void Settle(Shared& shared, size_t picture, std::vector<Tell>& tell) {
  PicturePipeline::Picture& settled = shared.pictures[picture];
  if (settled.settled) return;
  settled.settled = true;
  PicturePipeline::AlertPictures& alert = shared.alerts[settled.alert];
  if (alert.unsettled > 0) --alert.unsettled;
  if (alert.prepared && !alert.released && settled.item->image) {
    PicturePipeline::Job scaling;
    scaling.picture = picture;
    scaling.generation = alert.generation;
    shared.jobs.push_back(std::move(scaling));
    ++alert.scaling;
  }
  CheckReady(shared, settled.alert, tell);
  shared.changed.notify_all();
}

// After a failure that leaves no thread to finish the work (out of memory): every wait ends, and
// the windows draw what is there, scaling the rest themselves.
void GiveUp(Shared& shared) {
  std::vector<Tell> tell;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.jobs.clear();
    for (PicturePipeline::Picture& picture : shared.pictures) picture.settled = true;
    for (size_t i = 0; i < shared.alerts.size(); ++i) {
      shared.alerts[i].unsettled = 0;
      shared.alerts[i].scaling = 0;
      CheckReady(shared, i, tell);
    }
    shared.changed.notify_all();
  }
  TellReady(tell);
}

// Runs jobs[index] with the lock let go while it decodes, makes a bitmap or scales; the lock is
// held again after. where names the thread for the test build's trace: "pool", or "window" for
// the one that waits.
void RunJob(Shared& shared, std::unique_lock<std::mutex>& hold, size_t index, std::vector<Tell>& tell,
            std::string_view where, WicDecoder* wic = nullptr) {
  using Kind = PicturePipeline::JobKind;
  PicturePipeline::Job job = std::move(shared.jobs[index]);
  shared.jobs.erase(shared.jobs.begin() + static_cast<std::ptrdiff_t>(index));
  PicturePipeline::Picture& picture = shared.pictures[job.picture];
  PicturePipeline::AlertPictures& alert = shared.alerts[picture.alert];
  const Alert& owner = shared.document->alertas[picture.alert];
  const bool scaling = job.kind == Kind::Scale;
  if (scaling && (job.generation != alert.generation || alert.released)) return;  // asked again since
  const AlertLayout layout = alert.layout;
  const std::shared_ptr<ScaledPictures> copies = alert.copies;
  ++alert.reading;
  UniqueBitmap made;
  bool decodedToPixels = false;
  hold.unlock();
  try {
    switch (job.kind) {
      case Kind::Decode:
        switch (DecodeAdmittedPixels(job.body, job.declared, wic, job.pixels)) {
          case WicDecoding::Decoded:
            decodedToPixels = true;
            std::string().swap(job.body);
            break;
          case WicDecoding::Refused:
            break;
          case WicDecoding::NotHandled:
            made = DecodeThroughGdiplus(std::move(job.body), job.declared);
            break;
        }
        break;
      case Kind::Bitmap:
        made = BitmapOfPixels(std::move(job.pixels));
        break;
      case Kind::Scale:
        made = ScaleEntryPicture(*shared.document, owner, picture.index, layout);
        break;
    }
  } catch (...) {
    made.reset();  // absent, as a picture that did not decode; a copy the paint makes itself
    decodedToPixels = false;
  }
  hold.lock();
  --alert.reading;
  if (decodedToPixels) {
    // Settled once it is a bitmap: the painters and the scalings read nothing else.
    job.kind = Kind::Bitmap;
    shared.jobs.push_back(std::move(job));
  } else if (!scaling) {
    if (!made) {
      ReturnToBudget(shared.budget, job.declared, job.bodyBytes);
    } else if (!alert.released) {
      picture.item->image = std::move(made);
    }
    Settle(shared, job.picture, tell);
  } else if (job.generation == alert.generation && !alert.released) {
    if (made) TestTraceScaled(picture.alert, layout.width, layout.height, where);
    copies->Add(picture.item->image.get(), std::move(made));
    if (alert.scaling > 0) --alert.scaling;
    CheckReady(shared, picture.alert, tell);
  }
  shared.changed.notify_all();
}

// Takes the bodies in document order and admits each against the budget from its header, as if
// they had come one by one: which pictures are decoded never depends on which host was quicker.
void AdmitInOrder(Shared& shared) {
  for (size_t i = 0; i < shared.pictures.size(); ++i) {
    {
      std::lock_guard<std::mutex> hold(shared.lock);
      if (shared.stopping) return;
    }
    std::string body = shared.downloads->Take(i);
    std::vector<Tell> tell;
    {
      std::lock_guard<std::mutex> hold(shared.lock);
      if (shared.stopping) return;
      PicturePipeline::Job decoding;
      if (AdmitPicture(body, &shared.budget, decoding.declared)) {
        decoding.picture = i;
        decoding.kind = PicturePipeline::JobKind::Decode;
        decoding.bodyBytes = body.size();
        decoding.body = std::move(body);
        shared.jobs.push_back(std::move(decoding));
        shared.changed.notify_all();
      } else {
        Settle(shared, i, tell);
      }
    }
    TellReady(tell);
  }
}

DWORD WINAPI AdmitterThread(LPVOID parameter) {
  Shared& shared = *static_cast<Shared*>(parameter);
  try {
    AdmitInOrder(shared);
  } catch (...) {
    GiveUp(shared);
  }
  return 0;
}

DWORD WINAPI PoolThread(LPVOID parameter) {
  Shared& shared = *static_cast<Shared*>(parameter);
  // Made while the first bodies are still on their way.
  WicDecoder wic;
  try {
    std::unique_lock<std::mutex> hold(shared.lock);
    for (;;) {
      std::optional<size_t> next;
      shared.changed.wait(hold, [&] {
        next = shared.stopping ? std::nullopt : NextPictureJob(shared.jobs, shared.pictures);
        return shared.stopping || next.has_value();
      });
      if (shared.stopping) return 0;
      std::vector<Tell> tell;
      RunJob(shared, hold, *next, tell, "pool", &wic);
      if (!tell.empty()) {
        hold.unlock();
        TellReady(tell);
        hold.lock();
      }
    }
  } catch (...) {
    // One thread fewer; with none left, whoever waits runs the jobs itself.
    try {
      std::lock_guard<std::mutex> hold(shared.lock);
      if (shared.poolThreads > 0) --shared.poolThreads;
    } catch (...) {
    }
    GiveUp(shared);
  }
  return 0;
}

size_t PoolSize(size_t pictures) {
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const size_t cores = system.dwNumberOfProcessors;
  return std::min(pictures, std::clamp<size_t>(cores, 2, kMaxPictureDecoders));
}

}  // namespace

void PicturePipeline::StartTransfers(AlertDocument& document, FetchWorkers* keeper) {
  shared_ = std::make_shared<Shared>();
  Shared& shared = *shared_;
  shared.document = &document;
  shared.alerts.resize(document.alertas.size());
  std::vector<std::string> addresses;
  for (size_t a = 0; a < document.alertas.size(); ++a) {
    std::vector<AlertItem>& entries = document.alertas[a].contenido;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].imagen.empty()) continue;
      shared.pictures.push_back(Picture{&entries[i], a, i, false});
      ++shared.alerts[a].unsettled;
      addresses.push_back(entries[i].imagen);
    }
  }
  if (addresses.empty()) return;
  downloads_.emplace(std::move(addresses), RemoteTransferDeadlineMs(), keeper);
  shared.downloads = &*downloads_;
}

void PicturePipeline::StartDecoding() {
  if (!shared_ || !downloads_) return;
  Shared& shared = *shared_;
  threads_.reserve(1 + kMaxPictureDecoders);
  UniqueHandle admitter(::CreateThread(nullptr, 0, AdmitterThread, &shared, 0, nullptr));
  const size_t poolSize = PoolSize(shared.pictures.size());
  for (size_t i = 0; i < poolSize; ++i) {
    UniqueHandle thread(::CreateThread(nullptr, 0, PoolThread, &shared, 0, nullptr));
    if (!thread) break;
    {
      std::lock_guard<std::mutex> hold(shared.lock);
      ++shared.poolThreads;
    }
    threads_.push_back(std::move(thread));
  }
  if (admitter) {
    threads_.push_back(std::move(admitter));
  } else {
    // No thread to take the bodies: taken here, as they come, before anything shows.
    AdmitInOrder(shared);
  }
}

void PicturePipeline::Prepare(size_t alert, const AlertLayout& layout, Ready ready) {
  if (!shared_ || alert >= shared_->alerts.size()) {
    // Nothing to decode or scale: ready as it is.
    if (ready) {
      auto copies = std::make_shared<ScaledPictures>();
      copies->SetScreen(layout.width, layout.height);
      ready(std::move(copies));
    }
    return;
  }
  Shared& shared = *shared_;
  std::vector<Tell> tell;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    AlertPictures& pictures = shared.alerts[alert];
    if (pictures.released) return;
    auto copies = std::make_shared<ScaledPictures>();
    copies->SetScreen(layout.width, layout.height);
    pictures.prepared = true;
    ++pictures.generation;
    pictures.layout = layout;
    pictures.copies = std::move(copies);
    pictures.ready = std::move(ready);
    pictures.told = false;
    pictures.scaling = 0;
    // Scalings for an earlier screen are no longer wanted.
    shared.jobs.erase(std::remove_if(shared.jobs.begin(), shared.jobs.end(),
                                     [&](const Job& job) {
                                       return job.kind == JobKind::Scale && shared.pictures[job.picture].alert == alert;
                                     }),
                      shared.jobs.end());
    for (size_t i = 0; i < shared.pictures.size(); ++i) {
      const Picture& picture = shared.pictures[i];
      if (picture.alert != alert || !picture.settled || !picture.item->image) continue;
      Job scaling;
      scaling.picture = i;
      scaling.generation = pictures.generation;
      shared.jobs.push_back(std::move(scaling));
      ++pictures.scaling;
    }
    CheckReady(shared, alert, tell);
    shared.changed.notify_all();
  }
  TellReady(tell);
}

namespace {

// Waits under hold until done() or until; where no pool thread runs, the jobs run here meanwhile.
// Whether done() (or the pipeline stopped).
template <typename Done>
bool WaitRunning(Shared& shared, std::unique_lock<std::mutex>& hold, Done done,
                 std::optional<std::chrono::steady_clock::time_point> until = std::nullopt) {
  while (!done() && !shared.stopping) {
    if (until && std::chrono::steady_clock::now() >= *until) return false;
    if (shared.poolThreads == 0) {
      const std::optional<size_t> next = NextPictureJob(shared.jobs, shared.pictures);
      if (next) {
        std::vector<Tell> tell;
        RunJob(shared, hold, *next, tell, "window");
        hold.unlock();
        TellReady(tell);
        hold.lock();
        continue;
      }
    }
    if (until) {
      shared.changed.wait_until(hold, *until);
    } else {
      shared.changed.wait(hold);
    }
  }
  return true;
}

}  // namespace

std::shared_ptr<const ScaledPictures> PicturePipeline::WaitFor(size_t alert) {
  if (!shared_ || alert >= shared_->alerts.size()) return nullptr;
  Shared& shared = *shared_;
  std::unique_lock<std::mutex> hold(shared.lock);
  WaitRunning(shared, hold, [&] { return AlertPicturesReady(shared.alerts[alert]); });
  return shared.alerts[alert].copies;
}

bool PicturePipeline::WaitFor(size_t alert, DWORD timeoutMs, std::shared_ptr<const ScaledPictures>* copies) {
  if (!shared_ || alert >= shared_->alerts.size()) {
    *copies = nullptr;
    return true;
  }
  Shared& shared = *shared_;
  std::unique_lock<std::mutex> hold(shared.lock);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  if (!WaitRunning(shared, hold, [&] { return AlertPicturesReady(shared.alerts[alert]); }, until)) return false;
  *copies = shared.alerts[alert].copies;
  return true;
}

void PicturePipeline::WaitDecoded(size_t alert) {
  if (!shared_ || alert >= shared_->alerts.size()) return;
  Shared& shared = *shared_;
  std::unique_lock<std::mutex> hold(shared.lock);
  WaitRunning(shared, hold, [&] { return shared.alerts[alert].unsettled == 0; });
}

void PicturePipeline::Release(size_t alert) {
  if (!shared_ || alert >= shared_->alerts.size()) return;
  Shared& shared = *shared_;
  std::vector<UniqueBitmap> gone;
  std::shared_ptr<ScaledPictures> copies;
  {
    std::unique_lock<std::mutex> hold(shared.lock);
    AlertPictures& pictures = shared.alerts[alert];
    pictures.released = true;
    shared.jobs.erase(std::remove_if(shared.jobs.begin(), shared.jobs.end(),
                                     [&](const Job& job) {
                                       return job.kind == JobKind::Scale && shared.pictures[job.picture].alert == alert;
                                     }),
                      shared.jobs.end());
    shared.changed.wait(hold, [&] { return pictures.reading == 0; });
    for (Picture& picture : shared.pictures) {
      if (picture.alert == alert && picture.item->image) gone.push_back(std::move(picture.item->image));
    }
    copies = std::move(pictures.copies);
    pictures.ready = nullptr;
  }
}

void PicturePipeline::Stop() {
  if (!shared_) return;
  Shared& shared = *shared_;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.stopping = true;
    shared.jobs.clear();
    shared.changed.notify_all();
  }
  if (downloads_) downloads_->Abandon();
  // Each ends after the job it runs: a decoding or a scaling, never a transfer.
  for (UniqueHandle& thread : threads_) ::WaitForSingleObject(thread.get(), INFINITE);
  threads_.clear();
  downloads_.reset();
  // Copies of pictures go while GDI+ still runs; the windows' own shares have gone with them.
  for (AlertPictures& pictures : shared.alerts) {
    pictures.copies.reset();
    pictures.ready = nullptr;
  }
  shared_.reset();
}

void FetchDocumentPictures(AlertDocument& document, const std::function<void(size_t alertIndex)>& alertDecoded) {
  PicturePipeline pipeline;
  pipeline.StartTransfers(document);
  pipeline.StartDecoding();
  for (size_t a = 0; a < document.alertas.size(); ++a) {
    pipeline.WaitDecoded(a);
    if (!alertDecoded) continue;
    for (const AlertItem& item : document.alertas[a].contenido) {
      if (item.imagen.empty()) continue;
      alertDecoded(a);
      break;
    }
  }
}

void ReleaseAlertPictures(Alert& alert) {
  for (AlertItem& item : alert.contenido) item.image.reset();
}

}  // namespace brivon
