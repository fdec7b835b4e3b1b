// Stable sorts of row handles that hold up under any comparison.
//
// The comparisons of multikeysort may run Python code that answers
// inconsistently, and NaN cells make the row order no strict weak order.
// std::sort and std::stable_sort are undefined for such comparisons and may
// read outside the range, so they are not used. The sorts here move handles
// only: every index is bounded by the loop that makes it, and every step
// writes each handle of its range exactly once, so whatever the comparisons
// answer, the result is a permutation of the input. With a strict weak order
// the result is the stable order.
//
//   up to 20 handles: insertion, each handle moving towards the front past
//                     every handle before which it sorts;
//   more:             runs of 32 sorted by binary insertion, then bottom-up
//                     merges of neighbouring runs in place, through a buffer
//                     of half the handles.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "frame/alloc.hpp"

namespace pelm::dictsort {

inline constexpr std::size_t insertion_sort_limit = 20;

namespace detail {

inline constexpr std::size_t merge_run_length = 32;

// Sorts a run by binary insertion. A handle that does not sort before its
// predecessor stays in place after one comparison, so sorted input costs one
// comparison per handle.
template <class Handle, class Less>
void binary_insertion_sort(std::span<Handle> run, Less& less) {
    for (std::size_t i = 1; i < run.size(); ++i) {
        const Handle moving = run[i];
        if (!less(moving, run[i - 1])) continue;
        // The first position whose handle `moving` sorts before; equal
        // handles stay in front of it.
        std::size_t low = 0;
        std::size_t high = i - 1;
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (less(moving, run[middle])) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        std::move_backward(run.begin() + static_cast<std::ptrdiff_t>(low),
                           run.begin() + static_cast<std::ptrdiff_t>(i),
                           run.begin() + static_cast<std::ptrdiff_t>(i + 1));
        run[low] = moving;
    }
}

// Merges the sorted neighbouring runs handles[low, middle) and
// handles[middle, high) in place, through `buffer`, which holds the shorter
// of the two runs. A right handle goes before a left one only when it sorts
// strictly before it, which keeps the merge stable. Each step writes one
// handle to a slot whose handle was taken already, so whatever the
// comparisons answer, every handle of the two runs ends up there once.
template <class Handle, class Less>
void merge_neighbours(std::span<Handle> handles, std::size_t low, std::size_t middle,
                      std::size_t high, Handle* buffer, Less& less) {
    // Already in order: the first of the right run does not sort before the
    // last of the left run.
    if (!less(handles[middle], handles[middle - 1])) return;
    Handle* const slots = handles.data();
    if (middle - low <= high - middle) {
        // From the front, with the left run in the buffer: the next slot to
        // write stays below the next right handle to read.
        Handle* left = buffer;
        Handle* const left_end = std::copy(slots + low, slots + middle, buffer);
        std::size_t right = middle;
        std::size_t out = low;
        while (left != left_end && right < high) {
            slots[out++] = less(slots[right], *left) ? slots[right++] : *left++;
        }
        std::copy(left, left_end, slots + out);  // the rest of the right run is in place
    } else {
        // From the back, with the right run in the buffer: the next slot to
        // write stays above the next left handle to read.
        Handle* const right_begin = buffer;
        Handle* right_end = std::copy(slots + middle, slots + high, buffer);
        std::size_t left = middle;  // one past the next left handle
        std::size_t out = high;     // one past the next slot to write
        while (left != low && right_end != right_begin) {
            slots[--out] = less(right_end[-1], slots[left - 1]) ? slots[--left] : *--right_end;
        }
        std::copy(right_begin, right_end, slots + low);  // the rest of the left run is in place
    }
}

template <class Handle, class Less>
void merge_sort(std::span<Handle> handles, Less& less) {
    const std::size_t count = handles.size();
    for (std::size_t start = 0; start < count; start += merge_run_length) {
        binary_insertion_sort(handles.subspan(start, std::min(merge_run_length, count - start)),
                              less);
    }
    if (count <= merge_run_length) return;

    // The shorter run of a merge is never longer than half the handles.
    Vector<Handle> buffer(count / 2 + 1);
    for (std::size_t width = merge_run_length; width < count; width *= 2) {
        for (std::size_t low = 0; low + width < count; low += 2 * width) {
            const std::size_t middle = low + width;
            const std::size_t high = std::min(low + 2 * width, count);
            merge_neighbours(handles, low, middle, high, buffer.data(), less);
        }
    }
}

}  // namespace detail

// The insertion of short inputs: each handle in turn, from the second on,
// moves towards the front past every handle before which `less` says it
// sorts, and stops behind the first one before which it does not.
template <class Handle, class Less>
void insertion_sort(std::span<Handle> handles, Less& less) {
    for (std::size_t i = 1; i < handles.size(); ++i) {
        const Handle moving = handles[i];
        std::size_t position = i;
        while (position > 0 && less(moving, handles[position - 1])) {
            handles[position] = handles[position - 1];
            --position;
        }
        handles[position] = moving;
    }
}

// The stable sort of multikeysort: insertion for up to 20 handles, a merging
// sort for more.
template <class Handle, class Less>
void stable_sort(std::span<Handle> handles, Less&& less) {
    if (handles.size() < 2) return;
    if (handles.size() <= insertion_sort_limit) {
        insertion_sort(handles, less);
    } else {
        detail::merge_sort(handles, less);
    }
}

}  // namespace pelm::dictsort
