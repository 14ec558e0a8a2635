#pragma once

// Cuts the bytes a news server sends into replies (RFC 3977, 3.1.1): status lines ended by
// CR LF, and blocks ended by a line holding a single dot, with dot-stuffing undone. It keeps
// whatever arrived past the reply it hands out for the next read, so replies that arrive
// together (or pipelined) come out one by one, and it cuts them the same way wherever the
// network split the stream. It does no I/O itself: it asks its receive function for more.

#include <cstddef>
#include <functional>
#include <string>

class CReplyReader {
public:
    // Appends what has arrived to `pending`; false when the connection has ended (closed,
    // failed, timed out or cancelled) and nothing more will come.
    using ReceiveFunction = std::function<bool(std::string& pending)>;

    enum class Status {
        Complete,  // the line or block ended as the protocol says
        TooLarge,  // it outgrew the cap: dropped, but read to its end so the next reply is right
        Cut,       // the connection ended first; what came is handed out
    };

    explicit CReplyReader(ReceiveFunction receive) : m_receive(std::move(receive)) {}

    // One status line, CR LF included. It ends at the first CR LF after its first byte, so a
    // bare CR LF is not a status line of its own.
    Status ReadLine(std::string& reply, std::size_t maxSize);
    // One block, up to and without its dot line, with its lines' leading dots unstuffed.
    Status ReadBlock(std::string& reply, std::size_t maxSize);

    // Forgets what is buffered: for a new connection.
    void Clear();
    // Bytes received and not yet handed out.
    std::size_t Buffered() const { return m_pending.size() - m_start; }

private:
    // Drops what was handed out when that is most of the buffer, then receives more.
    bool ReceiveMore();
    void Consume(std::size_t end);
    std::string_view Rest() const;

    ReceiveFunction m_receive;
    std::string m_pending;
    std::size_t m_start = 0;  // the first byte not handed out yet
};
