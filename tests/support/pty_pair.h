// A pseudo-terminal for tests of the serial port: the port opens the slave path, the test
// plays the far end of the line on the master.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    void Send(const std::vector<uint8_t>& bytes);
    // Reads from the master until `count` bytes came or `timeout` passed.
    std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds timeout);
    // Closes the master: the slave side sees the line hang up.
    void CloseMaster();

  private:
    int master_ = -1;
    int slaveKeeper_ = -1;  // keeps the slave from hanging up between the port's opens
    std::string slavePath_;
};
