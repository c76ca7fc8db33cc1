#pragma once
// One owner per OS resource. Traits say what "no handle" is and how to release one.

#include <windows.h>

#include <utility>

namespace vesperlin::base {

template <typename Traits>
class UniqueHandle {
  public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer value) noexcept : value(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    explicit operator bool() const noexcept { return value != Traits::invalid(); }
    pointer get() const noexcept { return value; }
    pointer release() noexcept { return std::exchange(value, Traits::invalid()); }
    // For calls that hand a new resource back through a pointer: whatever was held is released
    // first, so no raw variable ever stands between the call and its owner.
    pointer* put() noexcept {
        reset();
        return &value;
    }
    void reset(pointer newValue = Traits::invalid()) noexcept {
        if (value != Traits::invalid()) Traits::close(value);
        value = newValue;
    }

  private:
    pointer value = Traits::invalid();
};

struct NullHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { CloseHandle(value); }
};

struct InvalidHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { CloseHandle(value); }
};

struct ModuleTraits {
    using pointer = HMODULE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { FreeLibrary(value); }
};

struct FindTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { FindClose(value); }
};

struct VirtualMemoryTraits {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { VirtualFree(value, 0, MEM_RELEASE); }
};

struct LocalMemoryTraits {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { LocalFree(value); }
};

// Processes, threads, tokens, events and copied handles are all kernel handles, released by
// CloseHandle with null for "none": one type serves them all, under names that say the kind.
using UniqueKernelHandle = UniqueHandle<NullHandleTraits>;
using UniqueProcess = UniqueKernelHandle;
using UniqueThread = UniqueKernelHandle;
using UniqueToken = UniqueKernelHandle;
using UniqueEvent = UniqueKernelHandle;
using UniqueFileHandle = UniqueHandle<InvalidHandleTraits>;  // CreateFile results
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueVirtualMemory = UniqueHandle<VirtualMemoryTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;  // buffers the system allocates for us

}  // namespace vesperlin::base
