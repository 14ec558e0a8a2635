#include "nntp/CReplyReader.h"

#include <algorithm>
#include <cstring>

void CReplyReader::Consume(std::size_t end) {
    m_start = end;
    if (m_start == m_size) {
        m_start = 0;
        m_size = 0;
    }
}

void CReplyReader::Clear() {
    m_start = 0;
    m_size = 0;
}

void CReplyReader::KeepLastByte() {
    m_buffer[0] = m_buffer[m_size - 1];
    m_size = 1;
    m_start = 0;
}

void CReplyReader::ShrinkAfterReply() {
    const std::size_t needed = Buffered() + m_receiveSize;
    if (m_capacity <= m_keptCapacity || needed > m_capacity / 2) {
        return;
    }
    std::unique_ptr<char[]> smaller = std::make_unique_for_overwrite<char[]>(needed);
    if (Buffered() > 0) {
        std::memcpy(smaller.get(), m_buffer.get() + m_start, Buffered());
    }
    m_size = Buffered();
    m_start = 0;
    m_buffer = std::move(smaller);
    m_capacity = needed;
}

bool CReplyReader::ReceiveMore() {
    // Drop what has been handed out once it makes up most of the buffer, so that the buffer
    // stays about as large as one reply. Every position the readers keep is counted from
    // m_start, so this moves nothing under them.
    if (m_start > 0 && m_start * 2 >= m_size) {
        std::memmove(m_buffer.get(), m_buffer.get() + m_start, m_size - m_start);
        m_size -= m_start;
        m_start = 0;
    }
    if (m_capacity - m_size < m_receiveSize) {
        // Not zero-filled: every byte is written by a receive before it is read.
        const std::size_t capacity = std::max(m_capacity * 2, m_size + m_receiveSize);
        std::unique_ptr<char[]> larger = std::make_unique_for_overwrite<char[]>(capacity);
        if (m_size > 0) {
            std::memcpy(larger.get(), m_buffer.get(), m_size);
        }
        m_buffer = std::move(larger);
        m_capacity = capacity;
    }
    const std::size_t received = m_receive(std::span<char>(m_buffer.get() + m_size, m_receiveSize));
    m_size += std::min(received, m_receiveSize);
    return received > 0;
}

CReplyReader::Status CReplyReader::ReadLine(std::string& reply, std::size_t maxSize) {
    reply.clear();
    bool overflowed = false;
    // Where, counted from m_start, the search for the line's CR LF goes on: never at the line's
    // first byte, and after a fruitless search at the last byte seen, which may be a CR whose LF
    // is still on its way.
    std::size_t searchFrom = 1;
    for (;;) {
        const std::string_view rest = Rest();
        const std::size_t end = rest.find("\r\n", searchFrom);
        if (end != std::string_view::npos) {
            overflowed = overflowed || end + 2 > maxSize;
            if (!overflowed) {
                reply.assign(rest.substr(0, end + 2));
            }
            Consume(m_start + end + 2);
            ShrinkAfterReply();
            return overflowed ? Status::TooLarge : Status::Complete;
        }
        searchFrom = std::max(searchFrom, rest.empty() ? 0 : rest.size() - 1);
        if (rest.size() > maxSize) {
            // Too long to be a status line: drop it but keep reading to its end, so that the
            // next reply still starts where it should. The last byte stays: it may be the CR.
            overflowed = true;
            KeepLastByte();
            searchFrom = 0;
        }
        if (!ReceiveMore()) {
            // What came so far is the reply.
            if (!overflowed) {
                reply.assign(Rest());
            }
            Clear();
            ShrinkAfterReply();
            return overflowed ? Status::TooLarge : Status::Cut;
        }
    }
}

CReplyReader::Status CReplyReader::ReadBlock(std::string& reply, std::size_t maxSize) {
    reply.clear();
    bool overflowed = false;
    // True while the bytes at m_start continue a line whose start was dropped.
    bool insideDroppedLine = false;
    const auto keep = [&](std::string_view data) {
        if (overflowed) {
            return;
        }
        if (reply.size() + data.size() > maxSize) {
            // Too large to keep: drop it, but read on to the end of the block so that the
            // session stays in step with the server.
            overflowed = true;
            std::string().swap(reply);
            return;
        }
        reply.append(data);
    };
    for (;;) {
        // Take every complete line that has arrived. The block ends at a line holding a single
        // dot, and a line that begins with a dot was sent with one more. Other lines need no
        // change, so they are copied in runs, up to the next line that begins with a dot: one
        // copy for most of a block rather than one per line.
        for (;;) {
            const std::string_view rest = Rest();
            if (insideDroppedLine || rest.starts_with('.')) {
                const std::size_t end = rest.find("\r\n");
                if (end == std::string_view::npos) {
                    break;
                }
                const std::string_view line = rest.substr(0, end + 2);
                m_start += end + 2;
                if (insideDroppedLine) {
                    insideDroppedLine = false;
                } else if (line == ".\r\n") {
                    Consume(m_start);
                    ShrinkAfterReply();
                    return overflowed ? Status::TooLarge : Status::Complete;
                } else {
                    keep(line.starts_with("..") ? line.substr(1) : line);
                }
                continue;
            }
            std::size_t runEnd = rest.find("\r\n.");
            if (runEnd == std::string_view::npos) {
                runEnd = rest.rfind("\r\n");
                if (runEnd == std::string_view::npos) {
                    break;
                }
            }
            keep(rest.substr(0, runEnd + 2));
            m_start += runEnd + 2;
        }
        if (Buffered() > maxSize) {
            overflowed = true;
            std::string().swap(reply);
            // Keep a final CR, which may be the first half of the line's end.
            KeepLastByte();
            insideDroppedLine = Rest() != "\r";
        }
        if (!ReceiveMore()) {
            // The connection ended inside the block: what came is handed out, but the block is
            // not whole.
            keep(Rest());
            Clear();
            ShrinkAfterReply();
            return overflowed ? Status::TooLarge : Status::Cut;
        }
    }
}
