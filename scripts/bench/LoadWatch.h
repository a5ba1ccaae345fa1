#pragma once

// The machine's load average over the last minute while one shape is
// measured: at its start, its highest between two runs, and at its end.
// Figures taken while other work competed for the processors are slower
// and noisier than the program is, so a verdict then is not to be trusted.
class LoadWatch {
public:
    // A load above this during a shape makes its verdicts unreliable.
    static constexpr double kReliableLimit = 1.5;

    // Takes the first reading.
    LoadWatch();

    void sample();
    // Takes the last reading.
    void finish();

    double atStart() const { return m_start; }
    double atEnd() const { return m_end; }
    double highest() const { return m_highest; }
    bool reliable() const { return m_highest <= kReliableLimit; }

    // The load average over the last minute, from /proc/loadavg; -1 when
    // unknown.
    static double now();

private:
    double m_start = -1;
    double m_end = -1;
    double m_highest = -1;
};
