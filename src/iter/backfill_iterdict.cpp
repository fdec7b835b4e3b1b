// backfill_iterdict(iterdict): a list of dicts back-filled key by key.
//
// Each item gives one new dict. A None value takes the latest value that is
// not None that its key had in an earlier item. None values met before a
// key's first real value are counted; when that value arrives it is stored
// into as many of the first result dicts, and a key that never gets a real
// value is left out wherever it was None.
//
// Keys are matched by their UTF-8 text. The result dicts get plain str keys
// made from that text, never the caller's key objects: every store gets a
// new str of its own. The values are the caller's own objects.
#include <Python.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "frame/hash.hpp"
#include "functions.hpp"

namespace pelm {
namespace {

// PyDict_Next over one dict, with the checks that catch a dict changed by
// other code (a finaliser, another thread) while it is visited: its size must
// stay the one it had when the visit began, and it must not yield more
// entries than that.
class DictEntries {
public:
    explicit DictEntries(PyObject* dict) noexcept
        : dict_(dict), noted_size_(PyDict_GET_SIZE(dict)), remaining_(noted_size_) {}

    // The next entry as borrowed pointers; false at the end.
    bool next(PyObject** key, PyObject** value) {
        if (PyDict_GET_SIZE(dict_) != noted_size_) {
            fault("dictionary changed size during iteration");
        }
        if (remaining_ < 0) fault("dictionary keys changed during iteration");
        if (!PyDict_Next(dict_, &position_, key, value)) return false;
        --remaining_;
        return true;
    }

private:
    PyObject* dict_;
    Py_ssize_t position_ = 0;
    Py_ssize_t noted_size_;
    Py_ssize_t remaining_;
};

// A new plain str equal to `text_key`, a str that this call made from a key's
// text: every store into a result dict makes its key anew from the text, as
// PyUnicode_FromStringAndSize would. Copying the str's storage spares
// decoding the UTF-8 text again.
OwnedRef copy_of_key(PyObject* text_key) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text_key);
    if (length <= 1) {
        // For these texts the interpreter hands out its shared str objects.
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text_key, &size);
        if (utf8 == nullptr) fail_null_object();
        return made_object(PyUnicode_FromStringAndSize(utf8, size));
    }
    const int kind = PyUnicode_KIND(text_key);
    const Py_UCS4 max_char = PyUnicode_IS_ASCII(text_key)  ? 0x7F
                             : kind == PyUnicode_1BYTE_KIND ? 0xFF
                             : kind == PyUnicode_2BYTE_KIND ? 0xFFFF
                                                            : 0x10FFFF;
    OwnedRef copy = made_object(PyUnicode_New(length, max_char));
    std::memcpy(PyUnicode_DATA(copy.get()), PyUnicode_DATA(text_key),
                static_cast<std::size_t>(length) * static_cast<std::size_t>(kind));
    return copy;
}

Result<void> store(PyObject* dict, PyObject* text_key, PyObject* value) {
    OwnedRef key = copy_of_key(text_key);
    if (PyDict_SetItem(dict, key.get(), value) < 0) return taken_error();
    return {};
}

// What is known of a key text once it has had a value that is not None.
struct KnownKey {
    OwnedRef last_value;  // the latest value that is not None
    OwnedRef result_key;  // a plain str of the text, copied for each store
};

// The key objects met most recently, each with what is known of its text.
// Rows of dicts tend to share their key objects, so most entries are resolved
// here without reading or hashing the key's text. A slot holds a reference to
// its key object: an address seen here always means the same str.
class RecentKeys {
public:
    KnownKey* find(PyObject* key) const noexcept {
        const Slot& slot = slots_[slot_index(key)];
        return slot.key.get() == key ? slot.known : nullptr;
    }

    // Returns the key object that the slot held before.
    [[nodiscard]] OwnedRef remember(PyObject* key, KnownKey* known) noexcept {
        Slot& slot = slots_[slot_index(key)];
        slot.known = known;
        return std::exchange(slot.key, OwnedRef::new_ref(key));
    }

private:
    struct Slot {
        OwnedRef key;
        KnownKey* known = nullptr;
    };

    static std::size_t slot_index(PyObject* key) noexcept {
        return (reinterpret_cast<std::uintptr_t>(key) >> 4) % slot_count;
    }

    static constexpr std::size_t slot_count = 61;
    std::array<Slot, slot_count> slots_;
};

// References given up while an entry is handled. They are released only when
// the entry is done: a release may end an object whose finaliser runs Python
// code, and the entry's key and value are borrowed from the caller's dict.
struct Displaced {
    OwnedRef value;
    OwnedRef key;
};

class DictListBackfill {
public:
    // `n` is the length that the list had when the call began: items appended
    // later are not visited, and a list that shrank fails at its end.
    Result<OwnedRef> run(PyObject* iterdict, Py_ssize_t n) {
        OwnedRef result = made_object(PyList_New(0));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Result<OwnedRef> item = list_item_at(iterdict, i);
            if (!item) return item.take_error();
            if (!is_dict(item->get())) return type_mismatch_error(item->borrow(), &PyDict_Type);
            OwnedRef filled = made_object(PyDict_New());
            if (Result<void> visited = fill_one(item->get(), filled.get(), result.get());
                !visited) {
                return visited.take_error();
            }
            if (PyList_Append(result.get(), filled.get()) < 0) return taken_error();
        }
        return result;
    }

private:
    // Visits the entries of `item`, storing into `filled` (its result dict)
    // and, for a key's first real value, into the earlier result dicts.
    // Handling an entry runs no Python code, so its key and value may stay
    // borrowed from the dict until it is done.
    Result<void> fill_one(PyObject* item, PyObject* filled, PyObject* result) {
        DictEntries entries(item);
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (entries.next(&key, &value)) {
            Displaced displaced;
            if (Result<void> done = take_entry(key, value, filled, result, displaced); !done) {
                return done;
            }
        }
        return {};
    }

    Result<void> take_entry(PyObject* key, PyObject* value, PyObject* filled, PyObject* result,
                            Displaced& displaced) {
        KnownKey* known = recent_.find(key);
        const bool recent = known != nullptr;
        std::string_view text;
        if (!recent) {
            // The key is tested before its value: a key that is not a str
            // fails even when its value is None.
            Result<BorrowedText> extracted = extract_borrowed_text(BorrowedRef(key));
            if (!extracted) return extracted.take_error();
            text = *extracted;
            if (auto found = last_values_.find(text); found != last_values_.end()) {
                known = &found->second;
            }
        }
        if (value != Py_None) {
            if (known != nullptr) {
                displaced.value = std::exchange(known->last_value, OwnedRef::new_ref(value));
            } else {
                Result<KnownKey*> first = take_first_value(text, value, result);
                if (!first) return first.take_error();
                known = *first;
            }
        } else if (known == nullptr) {
            // No value to fill with yet: count it, and leave the key out.
            if (auto pending = pending_counts_.find(text); pending != pending_counts_.end()) {
                ++pending->second;
            } else {
                pending_counts_.emplace(OwnedText(text), 1);
            }
            return {};
        }
        if (!recent) displaced.key = recent_.remember(key, known);
        return store(filled, known->result_key.get(), known->last_value.get());
    }

    // The first value that is not None for a text: it is recorded, then goes
    // into the result dicts whose None values were counted for the text.
    Result<KnownKey*> take_first_value(std::string_view text, PyObject* value, PyObject* result) {
        auto [entry, inserted] = last_values_.emplace(
            OwnedText(text), KnownKey{OwnedRef::new_ref(value), new_str(text)});
        if (!inserted) fault("a key text got its first value twice");
        KnownKey* known = &entry->second;
        if (!pending_counts_.empty()) {
            if (auto pending = pending_counts_.find(text); pending != pending_counts_.end()) {
                const std::uint64_t count = pending->second;
                pending_counts_.erase(pending);
                if (Result<void> done = fill_leading(count, known, result); !done) {
                    return done.take_error();
                }
            }
        }
        return known;
    }

    // A key's first real value goes into result dicts 0 to count - 1: the
    // dicts of the items whose None values were counted, when those stood
    // first in the list. Positions the result does not have yet are skipped.
    static Result<void> fill_leading(std::uint64_t count, const KnownKey* known, PyObject* result) {
        const auto available = static_cast<std::uint64_t>(PyList_GET_SIZE(result));
        const std::uint64_t end = count < available ? count : available;
        for (std::uint64_t position = 0; position < end; ++position) {
            PyObject* earlier = PyList_GET_ITEM(result, static_cast<Py_ssize_t>(position));
            if (Result<void> stored =
                    store(earlier, known->result_key.get(), known->last_value.get());
                !stored) {
                return stored;
            }
        }
        return {};
    }

    // Made in this order: the last-value map first. Entries of the
    // last-value map are never removed, so pointers to them stay valid.
    TextKeyMap<KnownKey> last_values_;
    TextKeyMap<std::uint64_t> pending_counts_;
    RecentKeys recent_;
};

}  // namespace

CallOutcome backfill_iterdict_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[1] = {nullptr};
    if (Result<void> bound =
            bind_fastcall_arguments(tables::backfill_iterdict, args, nargs, kwnames, slots);
        !bound) {
        return bound.take_error();
    }
    PyObject* iterdict = slots[0];
    if (!is_list(iterdict)) {
        return annotate_argument_error("iterdict",
                                       type_mismatch_error(BorrowedRef(iterdict), &PyList_Type));
    }
    const Py_ssize_t n = PyList_GET_SIZE(iterdict);
    // An empty list makes no maps.
    if (n == 0) return made_object(PyList_New(0));
    DictListBackfill backfill;
    return backfill.run(iterdict, n);
}

}  // namespace pelm
