// Entries keyed by a text, found from a str key object through the hash that
// the interpreter cached in it and a comparison of the two strs' storage: the
// key's UTF-8 form is not needed and nothing is hashed again.
//
// A key object whose hash the interpreter has not cached yet is not found
// here; the caller takes its slower way for it. So a lookup only reads the
// key, never writes into it, and runs no Python code: a str subclass's own
// __hash__ and __eq__ are never called, and texts compare by their content.
#pragma once

#include <Python.h>

#include <cstddef>

#include "frame/alloc.hpp"
#include "frame/str_storage.hpp"

namespace pelm::iter {

template <class Entry>
class StrHashIndex {
public:
    // Adds `entry` under the text of `text`, a str with storage whose hash is
    // `hash` and which outlives the index. The text must not be in the index.
    void add(PyObject* text, Py_hash_t hash, Entry* entry) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        place(Slot{hash, text, entry});
        ++used_;
    }

    // The entry of the key's text; null when the text is not in the index or
    // the key's hash is not cached. `key` passes the str test.
    Entry* find(PyObject* key) const noexcept {
        if (used_ == 0 || !has_str_storage(key)) return nullptr;
        const Py_hash_t hash = cached_str_hash(key);
        if (hash == -1) return nullptr;
        for (Probe probe(hash, mask());; probe.next()) {
            const Slot& slot = slots_[probe.index];
            if (slot.entry == nullptr) return nullptr;
            if (slot.hash == hash && same_str_text(slot.text, key)) return slot.entry;
        }
    }

private:
    struct Slot {
        Py_hash_t hash = 0;
        PyObject* text = nullptr;
        Entry* entry = nullptr;  // null: the slot is free
    };

    // Open addressing in the interpreter's own order of probes, which mixes
    // in the hash's high bits so that hashes equal in their low bits part.
    struct Probe {
        Probe(Py_hash_t hash, std::size_t mask) noexcept
            : mask(mask), perturb(static_cast<std::size_t>(hash)), index(perturb & mask) {}
        void next() noexcept {
            perturb >>= 5;
            index = (index * 5 + perturb + 1) & mask;
        }
        std::size_t mask;
        std::size_t perturb;
        std::size_t index;
    };

    std::size_t mask() const noexcept { return slots_.size() - 1; }

    void place(const Slot& slot) noexcept {
        Probe probe(slot.hash, mask());
        while (slots_[probe.index].entry != nullptr) probe.next();
        slots_[probe.index] = slot;
    }

    // Doubles the table (at least 16 slots), keeping it at most half full.
    void grow() {
        Vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.entry != nullptr) place(slot);
        }
    }

    Vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace pelm::iter
