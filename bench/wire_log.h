#pragma once

#include <QString>
#include <utility>
#include <vector>

// One frame the simulated DC heard and its reply, from the simulator's wire log (times: seconds on the
// monotonic clock).
struct Transaction {
    double heard = 0.0;      // the frame was read
    int frameBytes = 0;      // trailing 0x00 included
    int first = 0;           // its first byte
    double answered = -1.0;  // the reply's last piece was written; negative: no reply
    double due = 0.0;        // when the model wanted that piece on the PC's side
    double began = 0.0;      // when the simulator began to write it
    int replyBytes = 0;

    bool Is(int command) const { return frameBytes <= 4 && first == command; }  // not a data phase
    bool Answered() const { return answered >= 0.0; }
};

std::vector<Transaction> ReadWireLog(const QString& path);

// A stretch of transactions, first..last inclusive.
struct Phase {
    bool found = false;
    std::size_t first = 0;
    std::size_t last = 0;
    int blocks = 0;

    double Start(const std::vector<Transaction>& t) const { return t[first].heard; }
    double End(const std::vector<Transaction>& t) const { return t[last].answered; }
    double Seconds(const std::vector<Transaction>& t) const { return End(t) - Start(t); }
    double WireMinimum(const std::vector<Transaction>& t) const;  // every byte at 38400 baud 8N1
    // The moment the given number of blocks had gone through.
    double BlocksDoneAt(const std::vector<Transaction>& t, int done) const;
};

// The three transfers of a full update: the profile read (the first run of block reads), the image written
// (block writes up to the closing command) and the profile written back (the next block writes up to the
// header record).
struct Phases {
    Phase backup, upload, restore;
};
Phases FindPhases(const std::vector<Transaction>& t);

// A reply's last byte to the next command's first byte, inside a phase or all three.
std::vector<double> ReactionTimes(const std::vector<Transaction>& t, const Phase& phase);
std::vector<double> ReactionTimes(const std::vector<Transaction>& t, const Phases& phases);
// How late the simulator began to write its replies against its model, inside the phases.
std::vector<double> ReplyLateness(const std::vector<Transaction>& t, const Phases& phases);
// Quiet stretches of more than `minimum` seconds between the first transfer's start and the last frame.
std::vector<std::pair<double, double>> Waits(const std::vector<Transaction>& t, const Phases& phases,
                                             double minimum);

double Percentile(std::vector<double> values, double p);  // p in 0..1; 0 for no values
