#pragma once
// A handle of an operating-system service, owned: closed through the service that made it
// when it goes out of scope or is reset. Move-only. The service provides
// `bool CloseOwned(Service&, void*)`.
#include <cstddef>

namespace platform {

template <class Service>
class Owned {
public:
    Owned() = default;
    Owned(std::nullptr_t) {}  // a failed call's result
    Owned(Service* service, void* h) : service_(h ? service : nullptr), h_(h) {}
    Owned(Owned&& other) noexcept : service_(other.service_), h_(other.h_) {
        other.service_ = nullptr;
        other.h_ = nullptr;
    }
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            service_ = other.service_;
            h_ = other.h_;
            other.service_ = nullptr;
            other.h_ = nullptr;
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    void* get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    // Closes now; the result of the close (false when it failed or nothing was open).
    bool reset() {
        if (!h_) return false;
        void* h = h_;
        Service* service = service_;
        h_ = nullptr;
        service_ = nullptr;
        return CloseOwned(*service, h);
    }

private:
    Service* service_ = nullptr;
    void* h_ = nullptr;
};

}  // namespace platform
