// Pictures scaled once, ahead of the paint, to the size the layout gives them. Scaling a decoded
// picture to a full-screen size is nearly all of a first paint (a good part of a second for a few
// pictures): done off the window's thread before the window shows, the paint only copies them.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "alerts/model/alert_model.h"
#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/alert_layout.h"

namespace brivon {

// source scaled to width x height by the program's own filter (picture_scaling.h), laid over
// backdrop when one is given (an opaque copy, drawn without blending), else premultiplied with
// its transparency. A paint draws the copy unscaled where the picture goes. None when a size is
// empty or memory runs out. Uses nothing but its arguments: any thread may scale its own source.
UniqueBitmap ScalePicture(Gdiplus::Bitmap& source, int32_t width, int32_t height,
                          std::optional<Gdiplus::ARGB> backdrop);

// The update picture as an update window draws it: the size the layout gives it, over the
// window's background.
UniqueBitmap ScaleUpdatePicture(Gdiplus::Bitmap& picture, const AlertLayout& layout, Gdiplus::ARGB background);

// Scaled copies, each found by its source picture and the size it was scaled to.
class ScaledPictures {
 public:
  void Add(const Gdiplus::Bitmap* source, UniqueBitmap scaled);
  // The copy of source scaled to exactly w x h, or null: the painter then scales source itself.
  Gdiplus::Bitmap* Find(const Gdiplus::Bitmap* source, int32_t w, int32_t h) const;
  size_t size() const { return entries_.size(); }
  // The screen the copies were scaled for: copies made for another size are never drawn, even
  // where a picture's size happens to be the same.
  void SetScreen(int32_t width, int32_t height) {
    screenWidth_ = width;
    screenHeight_ = height;
  }
  bool MadeFor(int32_t width, int32_t height) const { return width == screenWidth_ && height == screenHeight_; }

 private:
  struct Entry {
    const Gdiplus::Bitmap* source;
    UniqueBitmap scaled;
  };
  std::vector<Entry> entries_;
  int32_t screenWidth_ = 0;
  int32_t screenHeight_ = 0;
};

// The copies a paint of a window width x height may draw: none made for another screen size.
const ScaledPictures* CopiesToDraw(const ScaledPictures* scaled, int32_t width, int32_t height);

// Every entry picture of alert scaled to where its kind's painter puts it in layout (a single
// button's block is measured as its painter measures it), over what is painted beneath it: the
// document's background in a grid, the entry's colour otherwise; into is marked as made for the
// layout's size. Reads the document and the alert, writes only into.
void ScaleAlertPictures(const AlertDocument& document, const Alert& alert, const AlertLayout& layout,
                        ScaledPictures& into);

// One entry's picture of alert scaled as ScaleAlertPictures scales it; none when the entry has no
// picture, its kind draws none there, or the scaling failed. Reads only that entry's picture.
UniqueBitmap ScaleEntryPicture(const AlertDocument& document, const Alert& alert, size_t index,
                               const AlertLayout& layout);

}  // namespace brivon
