#pragma once

#include <windows.h>
// GDI+ needs the COM and OLE declarations first.
#include <gdiplus.h>
#include <objidl.h>

#include <memory>
#include <vector>

#include "common/Handles_win.h"

// GDI+ for the life of the object; every GDI+ object must be gone before it ends.
class TGdiplusSession {
 public:
  TGdiplusSession();
  ~TGdiplusSession();
  TGdiplusSession(const TGdiplusSession&) = delete;
  TGdiplusSession& operator=(const TGdiplusSession&) = delete;
  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

// The animated loading picture, decoded by GDI+ from a GIF stored as an RCDATA resource.
class TLoadingPicture {
 public:
  TLoadingPicture(HINSTANCE instance, int resourceId);
  ~TLoadingPicture();
  TLoadingPicture(const TLoadingPicture&) = delete;
  TLoadingPicture& operator=(const TLoadingPicture&) = delete;

  [[nodiscard]] bool Valid() const { return image_ != nullptr; }
  [[nodiscard]] bool Animated() const { return delays_.size() > 1; }
  // How long the current frame stays, in milliseconds.
  [[nodiscard]] UINT CurrentDelay() const;
  // Moves to the next frame, back to the first after the last.
  void Advance();
  // Draws the current frame into the rectangle.
  void Draw(HDC dc, const RECT& where) const;

 private:
  TComPtr<IStream> stream_;  // GDI+ reads the image from it for the image's whole life
  std::unique_ptr<Gdiplus::Bitmap> image_;
  std::vector<UINT> delays_;
  std::size_t frame_ = 0;
};
