#pragma once

// The audio thread's side of bank choosing: the choices it knows, and the two
// queues it shares with the loader (choices asked for, banks made ready).

#include <ox/synth/BankChooser.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace ox::synth {

/// A single-producer, single-consumer queue of fixed capacity: push and pop
/// never wait and never allocate.
template <typename T, size_t N> class Ring {
public:
    bool push(const T& item) {
        const size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) == N) {
            return false;
        }
        m_items[tail % N] = item;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }
    bool pop(T& item) {
        const size_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire)) {
            return false;
        }
        item = m_items[head % N];
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

    /// True when nothing waits; exact only on the consumer's thread.
    bool empty() const {
        return m_head.load(std::memory_order_acquire) == m_tail.load(std::memory_order_acquire);
    }

private:
    std::array<T, N> m_items{};
    std::atomic<size_t> m_head{0};
    std::atomic<size_t> m_tail{0};
};

/// A bank made ready for one choice.
struct ChoiceResult {
    uint32_t key = 0;
    const Bank* bank = nullptr;
};

/// The choices of channel, bank select and program the audio thread has met, in
/// an open-addressing table of fixed size, and the queues to and from the loader.
class Choices {
public:
    enum class State : uint8_t { Empty, Asked, Ready };
    struct Slot {
        uint32_t key = 0; ///< 0: free
        State state = State::Empty;
        const Bank* bank = nullptr;
    };

    Choices() : m_slots(kSlots) {}

    /// Never 0, so that 0 marks a free slot.
    static uint32_t key(int channel, int msb, int lsb, int program) {
        return 1u + (uint32_t(channel & 0xF) << 21 | uint32_t(msb & 0x7F) << 14 |
                     uint32_t(lsb & 0x7F) << 7 | uint32_t(program & 0x7F));
    }
    static int channel(uint32_t key) { return int((key - 1) >> 21 & 0xF); }
    static int msb(uint32_t key) { return int((key - 1) >> 14 & 0x7F); }
    static int lsb(uint32_t key) { return int((key - 1) >> 7 & 0x7F); }
    static int program(uint32_t key) { return int((key - 1) & 0x7F); }

    /// The slot of `key`, claimed (empty) when it had none. A table this full
    /// means a song that changes choices without end: it starts afresh.
    Slot& slot(uint32_t key) {
        size_t index = (key * 2654435761u) % kSlots;
        while (m_slots[index].key != 0 && m_slots[index].key != key) {
            index = (index + 1) % kSlots;
        }
        Slot& found = m_slots[index];
        if (found.key == 0) {
            if (++m_filled > kMaxFilled) {
                std::fill(m_slots.begin(), m_slots.end(), Slot{});
                m_filled = 0;
                return slot(key);
            }
            found.key = key;
        }
        return found;
    }

    /// Choices the audio thread asks the loader to make.
    Ring<uint32_t, 256> asked;
    /// Banks the loader made ready, for the audio thread.
    Ring<ChoiceResult, 256> ready;

private:
    static constexpr size_t kSlots = 16384;
    static constexpr size_t kMaxFilled = kSlots * 3 / 4;
    std::vector<Slot> m_slots;
    size_t m_filled = 0;
};

} // namespace ox::synth
