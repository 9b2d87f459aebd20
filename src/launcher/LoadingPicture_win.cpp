#include "launcher/LoadingPicture_win.h"

#include <cstring>

namespace {

// GIF delays count hundredths of a second; browsers draw shorter ones as 100 ms too.
constexpr UINT kDefaultDelayMs = 100;
constexpr UINT kShortestDelayMs = 20;

}  // namespace

TGdiplusSession::TGdiplusSession() {
  const Gdiplus::GdiplusStartupInput input;
  ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
}

TGdiplusSession::~TGdiplusSession() {
  if (ok_) Gdiplus::GdiplusShutdown(token_);
}

TLoadingPicture::TLoadingPicture(HINSTANCE instance, int resourceId) {
  HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
  if (info == nullptr) return;
  HGLOBAL loaded = LoadResource(instance, info);
  const DWORD size = SizeofResource(instance, info);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return;

  // The stream owns a movable copy and frees it on its last release.
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (copy == nullptr) return;
  void* target = GlobalLock(copy);
  if (target == nullptr) {
    GlobalFree(copy);
    return;
  }
  std::memcpy(target, bytes, size);
  GlobalUnlock(copy);
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, stream_.Put()))) {
    GlobalFree(copy);
    return;
  }

  auto image = std::make_unique<Gdiplus::Bitmap>(stream_.Get());
  if (image->GetLastStatus() != Gdiplus::Ok) return;

  const UINT frames = image->GetFrameCount(&Gdiplus::FrameDimensionTime);
  delays_.assign(frames > 0 ? frames : 1, kDefaultDelayMs);
  const UINT propertySize = image->GetPropertyItemSize(PropertyTagFrameDelay);
  if (frames > 1 && propertySize >= sizeof(Gdiplus::PropertyItem)) {
    std::vector<unsigned char> buffer(propertySize);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (image->GetPropertyItem(PropertyTagFrameDelay, propertySize, item) == Gdiplus::Ok) {
      const std::size_t count = item->length / sizeof(LONG);
      for (std::size_t i = 0; i < delays_.size() && i < count; ++i) {
        LONG hundredths = 0;
        std::memcpy(&hundredths, static_cast<const unsigned char*>(item->value) + i * sizeof(LONG),
                    sizeof hundredths);
        const UINT ms = hundredths > 0 ? static_cast<UINT>(hundredths) * 10 : kDefaultDelayMs;
        delays_[i] = ms < kShortestDelayMs ? kDefaultDelayMs : ms;
      }
    }
  }
  image_ = std::move(image);
}

TLoadingPicture::~TLoadingPicture() = default;

UINT TLoadingPicture::CurrentDelay() const {
  return delays_.empty() ? kDefaultDelayMs : delays_[frame_];
}

void TLoadingPicture::Advance() {
  if (!Valid() || delays_.size() < 2) return;
  frame_ = (frame_ + 1) % delays_.size();
  image_->SelectActiveFrame(&Gdiplus::FrameDimensionTime, static_cast<UINT>(frame_));
}

void TLoadingPicture::Draw(HDC dc, const RECT& where) const {
  if (!Valid()) return;
  Gdiplus::Graphics graphics(dc);
  // Whole pixels when the layout is scaled: a blurred spinner reads worse than a blocky one.
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.DrawImage(image_.get(), static_cast<INT>(where.left), static_cast<INT>(where.top),
                     static_cast<INT>(where.right - where.left),
                     static_cast<INT>(where.bottom - where.top));
}
