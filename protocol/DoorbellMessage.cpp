#include "protocol/DoorbellMessage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// "orvo-doorbell 1 KIND SUBSCRIPTION SEQUENCE NOTIFIER\nEVENT\nQUEUE": numbers first, then the two
// names on lines of their own, since a queue name may hold any byte but a line break.
const char MAGIC[] = "orvo-doorbell 1";
const char KIND_EVENT_WORD[] = "event";
const char KIND_END_WORD[] = "end";

bool ReadNumber(const char*& at, const char* end, int& value)
{
    if (at >= end || *at != ' ') {
        return false;
    }
    ++at;
    long long number = 0;
    const char* start = at;
    while (at < end && *at >= '0' && *at <= '9' && at - start < 10) {
        number = number * 10 + (*at - '0');
        ++at;
    }
    if (at == start || number > 0x7fffffff) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool ReadWord(const char*& at, const char* end, const char* word)
{
    const std::size_t length = std::strlen(word);
    if (static_cast<std::size_t>(end - at) < length || std::memcmp(at, word, length) != 0) {
        return false;
    }
    at += length;
    return true;
}
} // namespace

std::string stDoorbellMessage::Encode() const
{
    if (strEvent.find('\n') != std::string::npos || strQueue.find('\n') != std::string::npos ||
        iSubscription < 0 || iSequence < 0 || iNotifier < 0) {
        return std::string();
    }
    char head[96];
    std::snprintf(head, sizeof head, "%s %s %d %d %d\n", MAGIC,
                  eKind == KIND_END ? KIND_END_WORD : KIND_EVENT_WORD, iSubscription, iSequence,
                  iNotifier);
    std::string bytes = head;
    bytes += strEvent;
    bytes += '\n';
    bytes += strQueue;
    return bytes.size() <= MAX_SIZE ? bytes : std::string();
}

bool stDoorbellMessage::Decode(const char* data, std::size_t size, stDoorbellMessage& message)
{
    if (!data || size > MAX_SIZE) {
        return false;
    }
    const char* at = data;
    const char* end = data + size;
    stDoorbellMessage read;
    if (!ReadWord(at, end, MAGIC) || !ReadWord(at, end, " ")) {
        return false;
    }
    if (ReadWord(at, end, KIND_EVENT_WORD)) {
        read.eKind = KIND_EVENT;
    } else if (ReadWord(at, end, KIND_END_WORD)) {
        read.eKind = KIND_END;
    } else {
        return false;
    }
    if (!ReadNumber(at, end, read.iSubscription) || !ReadNumber(at, end, read.iSequence) ||
        !ReadNumber(at, end, read.iNotifier) || !ReadWord(at, end, "\n")) {
        return false;
    }
    const char* eventEnd = static_cast<const char*>(std::memchr(at, '\n', end - at));
    if (!eventEnd) {
        return false;
    }
    read.strEvent.assign(at, eventEnd);
    read.strQueue.assign(eventEnd + 1, end);
    if (read.strQueue.find('\n') != std::string::npos) {
        return false;
    }
    message = read;
    return true;
}
