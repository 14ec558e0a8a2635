#pragma once

// The waits before the tries to win a lost connection back: a list of growing waits, then one
// wait repeated until the waits add up to at least a given total. It neither waits nor
// connects; ReconnectToGroup does, and tests hand it waits of milliseconds.

#include <chrono>
#include <vector>

class CBackOff {
public:
    using Wait = std::chrono::milliseconds;

    // `waits` before the first tries, then `repeat` before each further one until the waits
    // add up to `atLeast`.
    explicit CBackOff(std::vector<Wait> waits, Wait repeat = Wait::zero(),
                      Wait atLeast = Wait::zero());

    // A connection of a batch, which the others can stand in for: 1, 2 and 4 s.
    static CBackOff Quick();
    // The run's own connection: 1, 2, 4, 8, 15, 30 and 60 s, then every 60 s, ten minutes in
    // all.
    static CBackOff Patient();

    int Tries() const { return m_tries; }
    // The wait before a try, counted from 0; a try beyond the last waits as the last did.
    Wait Before(int attempt) const;

private:
    std::vector<Wait> m_waits;
    Wait m_repeat;
    int m_tries;
};
