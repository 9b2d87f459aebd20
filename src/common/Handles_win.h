#pragma once

#include <windows.h>

#include <utility>

// Owns one Windows object; Close is the function that releases it (CloseHandle, DeleteObject,
// DestroyWindow, ...). Invalid is the value that means "none".
template <class T, auto Close, T Invalid = T{}>
class TUnique {
 public:
  TUnique() = default;
  explicit TUnique(T value) : value_(value) {}
  ~TUnique() { Reset(); }
  TUnique(TUnique&& other) noexcept : value_(other.Release()) {}
  TUnique& operator=(TUnique&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TUnique(const TUnique&) = delete;
  TUnique& operator=(const TUnique&) = delete;

  [[nodiscard]] T Get() const { return value_; }
  [[nodiscard]] bool Valid() const { return value_ != Invalid; }
  T Release() { return std::exchange(value_, Invalid); }
  void Reset(T value = Invalid) {
    if (value_ != Invalid) Close(value_);
    value_ = value;
  }

 private:
  T value_ = Invalid;
};

using TUniqueHandle = TUnique<HANDLE, CloseHandle>;
using TUniqueWindow = TUnique<HWND, DestroyWindow>;
using TUniqueFont = TUnique<HFONT, DeleteObject>;
using TUniqueBitmap = TUnique<HBITMAP, DeleteObject>;
using TUniqueDc = TUnique<HDC, DeleteDC>;
using TUniqueHook = TUnique<HHOOK, UnhookWindowsHookEx>;

// Selects an object into a device context for one scope.
class TSelectObject {
 public:
  TSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~TSelectObject() {
    if (old_ != nullptr && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A COM apartment for the calling thread, left when the object goes.
class TComApartment {
 public:
  TComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~TComApartment() {
    if (ok_) CoUninitialize();
  }
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;

 private:
  bool ok_;
};

// Holds one reference to a COM object.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  ~TComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;

  [[nodiscard]] T* Get() const { return p_; }
  T** Put() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
    return &p_;
  }

 private:
  T* p_ = nullptr;
};
