#pragma once
// How often the logger asks a chamber that has stopped answering. Its outage is reported at
// once, but asking it every round would cost every other chamber its period: after three rounds
// without an answer it is asked every 2nd, then 4th, 8th ... round, never less than once in
// maxInterval rounds (a minute's worth), until it answers again.
class SilentChamberBackoff {
public:
    explicit SilentChamberBackoff(long maxInterval) : maxInterval_(maxInterval < 1 ? 1 : maxInterval) {}

    // Whether the chamber is to be asked in this round (rounds count up from 0).
    bool due(long round) const { return round >= nextDue_; }
    void answered(long round);
    void missed(long round);
    // Rounds between two asks at present; 1 while it answers.
    long interval() const { return interval_; }

private:
    static constexpr int kMissesBeforeBackoff = 3;

    long maxInterval_;
    int misses_ = 0;
    long interval_ = 1;
    long nextDue_ = 0;
};
