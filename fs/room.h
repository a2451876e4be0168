// Fixed room for values made only as they are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace imgpry::fs {

// Room for N values of T in the object that holds it, made only as they
// are written: its bytes are static storage that no constructor touches, so
// the part never used takes no memory (not even a page of it). T must be a
// type that such bytes can hold without construction (an aggregate, or
// trivially copyable).
template <typename T, int32_t N>
// cppcheck-suppress noConstructor ; its bytes are left as they are on purpose
class Room {
public:
    T* data() { return std::launder(reinterpret_cast<T*>(bytes_)); }
    const T* data() const { return std::launder(reinterpret_cast<const T*>(bytes_)); }
    T& operator[](int32_t i) { return data()[i]; }
    const T& operator[](int32_t i) const { return data()[i]; }

private:
    alignas(T) unsigned char bytes_[sizeof(T) * static_cast<size_t>(N)];
};

}  // namespace imgpry::fs
