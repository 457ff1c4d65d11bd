#pragma once
// The setters' rule "assign only when the new value differs", for plain and atomic fields.
#include <atomic>

template <class T, class V>
void AssignWhenDifferent(T &Field, V Value)
{
    if (Field != Value)
        Field = Value;
}

// Release, so a reader that acquires the field also sees what was written before it.
template <class T, class V>
void AssignWhenDifferent(std::atomic<T> &Field, V Value)
{
    if (Field.load(std::memory_order_relaxed) != static_cast<T>(Value))
        Field.store(static_cast<T>(Value), std::memory_order_release);
}
