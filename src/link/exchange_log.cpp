#include "link/exchange_log.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "common/saved_text.h"

std::string ExchangeLog::ByteField(const ExchangeFrame& frame, size_t index) {
    return index < frame.bytes.size() ? std::to_string(frame.bytes[index]) : "--";
}

int64_t ExchangeLog::WallMs(const ExchangeFrame& frame) const {
    return (frame.timeNs + wallOffsetNs) / 1'000'000;
}

std::string ExchangeLog::Verdict(const std::vector<uint8_t>& request,
                                 const std::vector<uint8_t>& reply) {
    if (reply.empty()) return "нет ответа";
    if (request.size() < 2 || reply[0] != request[0]) return "чужой адрес";
    if (reply.size() < 3) return "короткий ответ";
    switch (TComPortClass::ClassifyHeader(request[1], reply[1])) {
        case HeaderKind::Exception: {
            char code[3];
            std::snprintf(code, sizeof code, "%02X", reply[2]);
            return std::string("исключение ") + code;
        }
        case HeaderKind::Foreign:
            return "чужой ответ";
        case HeaderKind::Normal:
            break;
    }
    const int32_t expected = TComPortClass::ExpectedReplyLength(
        request[1], static_cast<int32_t>(request.size()), reply[2]);
    if (static_cast<int32_t>(reply.size()) < expected) return "короткий ответ";
    if (!TComPortClass::ReplyCheckPasses(reply.data(), expected)) {
        return "ошибка контрольной суммы";
    }
    return "ответ верен";
}

void ExchangeLog::Add(ExchangeFrame frame) {
    if (paused) return;
    ++added_;
    frames_.push_back(std::move(frame));
    while (frames_.size() > capacity_)
        frames_.pop_front();
}

void ExchangeLog::FinishReply() {
    if (awaitingReply_) {
        ExchangeFrame reply = reply_ ? std::move(*reply_) : ExchangeFrame{};
        reply.direction = ExchangeFrame::Direction::Reply;
        if (!reply_) reply.timeNs = requestNs_;
        reply.verdict = Verdict(request_, reply.bytes);
        Add(std::move(reply));
    }
    awaitingReply_ = false;
    reply_.reset();
}

void ExchangeLog::RequestWritten(int64_t timeNs, std::span<const uint8_t> frame) {
    FinishReply();
    request_.assign(frame.begin(), frame.end());
    requestNs_ = timeNs;
    // Block writes and broadcasts get no reply.
    awaitingReply_ = request_.size() >= 2 && !TComPortClass::ExpectsNoReply(request_[1]);
    Add({timeNs, ExchangeFrame::Direction::Request, request_, {}, 0});
}

void ExchangeLog::ReplyRead(int64_t timeNs, std::span<const uint8_t> bytes,
                            int64_t sinceRequestNs) {
    if (!awaitingReply_) return;
    if (!reply_) reply_ = ExchangeFrame{timeNs, ExchangeFrame::Direction::Reply, {}, {}, 0};
    reply_->bytes.insert(reply_->bytes.end(), bytes.begin(), bytes.end());
    reply_->replyNs = sinceRequestNs;
}

void ExchangeLog::TransactionEnded(int64_t, int32_t, int32_t) {
    FinishReply();
}

void ExchangeLog::Save(std::ostream& out) const {
    for (const ExchangeFrame& f : frames_) {
        const bool request = f.direction == ExchangeFrame::Direction::Request;
        out << WallTimeText(WallMs(f)) << '\t' << (request ? "->" : "<-") << '\t' << ByteField(f, 0)
            << '\t' << ByteField(f, 1) << '\t' << HexText(f.bytes);
        if (!request)
            out << '\t' << f.verdict << '\t' << NumberText(static_cast<double>(f.replyNs) / 1e6, 3);
        out << '\n';
    }
}

std::vector<ExchangeFrame> ExchangeLog::Load(std::istream& in) {
    std::vector<ExchangeFrame> frames;
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = SplitFields(line, '\t');
        if (fields.size() < 5 || (fields[1] != "->" && fields[1] != "<-")) continue;
        const std::optional<int64_t> wallMs = ParseWallTime(fields[0]);
        if (!wallMs) continue;
        ExchangeFrame f;
        f.timeNs = *wallMs * 1'000'000;
        f.direction =
            fields[1] == "->" ? ExchangeFrame::Direction::Request : ExchangeFrame::Direction::Reply;
        std::stringstream hex(fields[4]);
        for (std::string byte; hex >> byte;) {
            unsigned value = 0;
            std::from_chars(byte.data(), byte.data() + byte.size(), value, 16);
            f.bytes.push_back(static_cast<uint8_t>(value));
        }
        if (fields.size() >= 7) {
            f.verdict = fields[5];
            const double ms = ParseNumber(fields[6]);
            f.replyNs = std::isnan(ms) ? 0 : std::llround(ms * 1e6);
        }
        frames.push_back(std::move(f));
    }
    return frames;
}
