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
// new str of its own, copied from one str made per text and carrying its
// hash, so that the dict does not hash the text again. The values are the
// caller's own objects.
#include <Python.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "frame/fresh_str.hpp"
#include "frame/hash.hpp"
#include "frame/str_storage.hpp"
#include "functions.hpp"
#include "iter/str_hash_index.hpp"

namespace pelm {
namespace {

using iter::StrHashIndex;

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

Result<void> store(PyObject* dict, const FreshStr& key_text, PyObject* value) {
    OwnedRef key = key_text.make();
    if (PyDict_SetItem(dict, key.get(), value) < 0) return taken_error();
    return {};
}

// What is known of a key text once it has had a value that is not None.
struct KnownKey {
    OwnedRef last_value;  // the latest value that is not None
    FreshStr key_text;    // makes a new plain str of the text for each store

    // Takes a new latest value; returns the one it replaces.
    [[nodiscard]] OwnedRef take_value(PyObject* value) noexcept {
        return std::exchange(last_value, OwnedRef::new_ref(value));
    }
};

// The key objects met most recently, each with what is known of its text.
// Rows of dicts tend to share their key objects, so most entries are resolved
// here without reading or hashing the key's text. A slot holds a reference to
// its key object: an address seen here always means the same str.
//
// Each address has a set of two slots, the newer key object first, so that
// two key objects of a row whose addresses fall into one set do not keep
// pushing each other out.
class RecentKeys {
public:
    KnownKey* find(PyObject* key) const noexcept {
        const Set& set = sets_[set_index(key)];
        if (set[0].key.get() == key) return set[0].known;
        if (set[1].key.get() == key) return set[1].known;
        return nullptr;
    }

    // Returns the key object that the set gave up for it.
    [[nodiscard]] OwnedRef remember(PyObject* key, KnownKey* known) noexcept {
        Set& set = sets_[set_index(key)];
        OwnedRef oldest = std::move(set[1].key);
        set[1] = std::move(set[0]);
        set[0] = Slot{OwnedRef::new_ref(key), known};
        return oldest;
    }

private:
    struct Slot {
        OwnedRef key;
        KnownKey* known = nullptr;
    };
    using Set = std::array<Slot, 2>;

    // Fibonacci hashing of the address without its alignment bits.
    static std::size_t set_index(PyObject* key) noexcept {
        const std::uint64_t address = reinterpret_cast<std::uintptr_t>(key) >> 4;
        return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15u) >> (64 - set_bits));
    }

    static constexpr int set_bits = 5;
    std::array<Set, std::size_t{1} << set_bits> sets_;
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

    // Most entries have a key object met recently: their key is already
    // known to be a str with a UTF-8 form, and its text to have a value.
    Result<void> take_entry(PyObject* key, PyObject* value, PyObject* filled, PyObject* result,
                            Displaced& displaced) {
        KnownKey* known = recent_.find(key);
        if (known == nullptr) {
            Result<KnownKey*> taken = take_new_key_object(key, value, result, displaced);
            if (!taken) return taken.take_error();
            known = *taken;
            if (known == nullptr) return {};
        } else if (value != Py_None) {
            displaced.value = known->take_value(value);
        }
        return store(filled, known->key_text, known->last_value.get());
    }

    // An entry whose key object is not among the recent ones. The key is
    // tested here, before its value is looked at: a key that is not a str
    // fails even when its value is None, and so does a str without a UTF-8
    // form. Extracting the text also leaves the key object as every key
    // object met ends the call (with that form cached). Returns what is known
    // of the text to store under it, or null when the value is None and the
    // text has had no other value yet: the None is counted and the key left
    // out.
    Result<KnownKey*> take_new_key_object(PyObject* key, PyObject* value, PyObject* result,
                                          Displaced& displaced) {
        Result<BorrowedText> text = extract_borrowed_text(BorrowedRef(key));
        if (!text) return text.take_error();
        KnownKey* known = find_text(key, *text);
        if (value != Py_None) {
            if (known != nullptr) {
                displaced.value = known->take_value(value);
            } else {
                Result<KnownKey*> first = take_first_value(*text, value, result);
                if (!first) return first.take_error();
                known = *first;
            }
        } else if (known == nullptr) {
            if (auto pending = pending_counts_.find(*text); pending != pending_counts_.end()) {
                ++pending->second;
            } else {
                pending_counts_.emplace(OwnedText(*text), 1);
            }
            return nullptr;
        }
        displaced.key = recent_.remember(key, known);
        return known;
    }

    // What is known of the text of `key`, a str whose UTF-8 form is `text`:
    // first through the hash that the interpreter cached in the key, which
    // spares hashing the text, then in the last-value map.
    KnownKey* find_text(PyObject* key, std::string_view text) {
        if (KnownKey* known = by_hash_.find(key)) return known;
        auto found = last_values_.find(text);
        return found == last_values_.end() ? nullptr : &found->second;
    }

    // The first value that is not None for a text: it is recorded, then goes
    // into the result dicts whose None values were counted for the text.
    Result<KnownKey*> take_first_value(std::string_view text, PyObject* value, PyObject* result) {
        auto [entry, inserted] = last_values_.emplace(
            OwnedText(text), KnownKey{OwnedRef::new_ref(value), FreshStr(text)});
        if (!inserted) fault("a key text got its first value twice");
        KnownKey* known = &entry->second;
        by_hash_.add(known->key_text.model(), known->key_text.hash(), known);
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
            if (Result<void> stored = store(earlier, known->key_text, known->last_value.get());
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
    // Lookups that spare hashing the text: by the key object itself, and by
    // the hash the interpreter cached in it. Both lead to entries of the
    // last-value map.
    RecentKeys recent_;
    StrHashIndex<KnownKey> by_hash_;
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
