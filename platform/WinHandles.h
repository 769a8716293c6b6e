// Small RAII holders so that every path releases what it opened.
#pragma once
#include <windows.h>
#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~UniqueHandle() { reset(); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid()) CloseHandle(h_);
        h_ = h;
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

class UniqueFindHandle {
public:
    explicit UniqueFindHandle(HANDLE h) : h_(h) {}
    UniqueFindHandle(const UniqueFindHandle&) = delete;
    UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
    ~UniqueFindHandle() {
        if (valid()) FindClose(h_);
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

class UniqueHKey {
public:
    UniqueHKey() = default;
    explicit UniqueHKey(HKEY k) : k_(k) {}
    UniqueHKey(const UniqueHKey&) = delete;
    UniqueHKey& operator=(const UniqueHKey&) = delete;
    UniqueHKey(UniqueHKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
    UniqueHKey& operator=(UniqueHKey&& o) noexcept {
        if (this != &o) reset(std::exchange(o.k_, nullptr));
        return *this;
    }
    ~UniqueHKey() { reset(); }
    void reset(HKEY k = nullptr) {
        if (k_) RegCloseKey(k_);
        k_ = k;
    }
    HKEY get() const { return k_; }
    HKEY* put() {
        reset();
        return &k_;
    }

private:
    HKEY k_ = nullptr;
};

// A GDI object (font, brush, pen, bitmap, palette) deleted when it goes.
template <typename T>
class UniqueGdi {
public:
    UniqueGdi() = default;
    explicit UniqueGdi(T h) : h_(h) {}
    UniqueGdi(const UniqueGdi&) = delete;
    UniqueGdi& operator=(const UniqueGdi&) = delete;
    UniqueGdi(UniqueGdi&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueGdi& operator=(UniqueGdi&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, nullptr));
        return *this;
    }
    ~UniqueGdi() { reset(); }
    void reset(T h = nullptr) {
        if (h_) DeleteObject(h_);
        h_ = h;
    }
    T get() const { return h_; }
    T release() { return std::exchange(h_, nullptr); }

private:
    T h_ = nullptr;
};

// A COM interface pointer released when it goes.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};
