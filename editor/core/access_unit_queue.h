// CAccessUnitQueue: carries timed access units (video pictures and headers, audio frames)
// from one producer thread to the mux thread. The bytes live in a byte ring; a list of
// entries describes the units with two times, a length and a kind. The newest entry stays
// open (the producer may still append to it): only entries with a successor are visible
// to Peek and Take, and the last one is handed over by PeekLast/TakeLast once the
// producer has finished.
//
// The ring is bounded by its capacity, except that it grows when a single open unit does
// not fit (the consumer could never free room for it, so waiting would never end) and
// while the consumer allows it to (SetOverflow).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "editor/core/bit_ring.h"

namespace editor {

// Entry kinds as the engines use them (the parser's item kinds).
enum UnitKind : int {
    kUnitOther = 0,
    kUnitGop = 1,
    kUnitPicture = 2,
    kUnitSequenceHeader = 4,
    kUnitAudioFrame = 9,
};

struct AccessUnitInfo {
    int64_t time1 = -1;  // presentation time (audio: its time), 100 ns or kNoTime
    int64_t time2 = -1;  // decoding time (video), 100 ns or kNoTime
    size_t length = 0;
    int kind = 0;
};

class CAccessUnitQueue {
public:
    CAccessUnitQueue() = default;
    ~CAccessUnitQueue() { Clear(); }
    CAccessUnitQueue(const CAccessUnitQueue&) = delete;
    CAccessUnitQueue& operator=(const CAccessUnitQueue&) = delete;

    // A new, empty ring of `capacity` bytes (it holds capacity - 1); clears the abort.
    bool Create(size_t capacity);
    void Clear();

    // Appends a unit (data may be null or length 0: an empty unit). False when aborted
    // or memory is short.
    bool Put(int64_t time1, int64_t time2, int kind, size_t length, const uint8_t* data);
    // Adds bytes to the open unit. False with no unit, or on abort.
    bool Append(size_t length, const uint8_t* data);
    bool SetTailTimes(int64_t time1, int64_t time2);
    // A new unit repeating the open unit's bytes and kind, with these times.
    bool RepeatTail(int64_t time1, int64_t time2);
    // Cuts the open unit at the first position after its first byte where the 32-bit
    // word (first byte lowest) agrees with `pattern` under `mask`; the bytes from there
    // become a new open unit timed `step` after the old one. False when none is found.
    bool SplitTail(uint32_t pattern, uint32_t mask, int64_t step);

    // The oldest complete unit; with `wait`, waits up to 100 ms for one first.
    bool Peek(AccessUnitInfo* info, bool wait);
    // Removes the oldest complete unit into `out` (resized to its length).
    bool Take(std::vector<uint8_t>* out, AccessUnitInfo* info = nullptr);
    // The same for the last unit, once it is the only one.
    bool PeekLast(AccessUnitInfo* info);
    bool TakeLast(std::vector<uint8_t>* out, AccessUnitInfo* info = nullptr);

    // While set, a producer that finds the ring full grows it instead of waiting: the
    // consumer sets it when it cannot take from this queue before another producer moves
    // on, and that producer waits for this one (see CEditEngine::MuxLoop).
    void SetOverflow(bool allow);

    // Wakes every waiter; blocked and later producer calls return false.
    void Signal();
    // The producer has put its last unit: a waiting consumer wakes to take it.
    void Finish();
    bool Finished() const;
    bool Aborted() const;
    size_t Capacity() const;
    size_t Units() const;

private:
    bool WaitRoom(std::unique_lock<std::mutex>& hold, size_t length);
    bool TakeFront(std::vector<uint8_t>* out, AccessUnitInfo* info);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    CBitRing ring_;
    size_t capacity_ = 0;
    std::deque<AccessUnitInfo> entries_;
    bool aborted_ = false;
    bool finished_ = false;
    bool overflow_ = false;
};

}  // namespace editor
