// The record of what passed on the line, for the exchange monitor: each request and each
// reply with the time, the bytes and a verdict on the reply, the last `capacity` frames only.
// It observes the link; it sends nothing and changes nothing in an exchange.
#pragma once

#include <cstdint>
#include <deque>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/Comportclass.h"

struct ExchangeFrame {
    enum class Direction { Request, Reply };
    int64_t timeNs = 0;  // on the link's clock
    Direction direction = Direction::Request;
    std::vector<uint8_t> bytes;
    // Replies: what the reply is to its request, and how long after the request it ended.
    std::string verdict;
    int64_t replyNs = 0;
};

class ExchangeLog final : public LinkObserver {
  public:
    static constexpr size_t kDefaultCapacity = 10000;
    explicit ExchangeLog(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // While paused, nothing is recorded.
    bool paused = false;
    // Added to a time of the link's clock, gives the system clock's time since the epoch.
    int64_t wallOffsetNs = 0;

    const std::deque<ExchangeFrame>& Frames() const { return frames_; }
    // Frames recorded since the log was made, cleared ones and dropped ones included.
    uint64_t Added() const { return added_; }
    void Clear() { frames_.clear(); }

    // The time of day of a frame, in milliseconds since the epoch.
    int64_t WallMs(const ExchangeFrame& frame) const;
    // The address and function bytes of a frame in decimal, "--" where the frame is too short.
    static std::string ByteField(const ExchangeFrame& frame, size_t index);

    // One line a frame, fields separated by tabs: the local time with milliseconds, the
    // direction ("->" request, "<-" reply), address, function, the bytes in hex, and for a
    // reply its verdict and its time after the request in ms.
    void Save(std::ostream& out) const;
    // Reads what Save wrote, with the times in nanoseconds since the epoch; nothing on a line
    // that is not a frame.
    static std::vector<ExchangeFrame> Load(std::istream& in);

    // The verdict on a reply read for a request.
    static std::string Verdict(const std::vector<uint8_t>& request,
                               const std::vector<uint8_t>& reply);

    void RequestWritten(int64_t timeNs, std::span<const uint8_t> frame) override;
    void ReplyRead(int64_t timeNs, std::span<const uint8_t> bytes, int64_t sinceRequestNs) override;
    void TransactionEnded(int64_t timeNs, int32_t result, int32_t attempts) override;

  private:
    void Add(ExchangeFrame frame);
    // Closes the reply of the last request (none came: "нет ответа").
    void FinishReply();

    size_t capacity_;
    uint64_t added_ = 0;
    std::deque<ExchangeFrame> frames_;
    std::vector<uint8_t> request_;
    std::optional<ExchangeFrame> reply_;  // being read
    bool awaitingReply_ = false;
    int64_t requestNs_ = 0;
};
