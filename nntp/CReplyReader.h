#pragma once

// Cuts the bytes a news server sends into replies (RFC 3977, 3.1.1): status lines ended by
// CR LF, and blocks ended by a line holding a single dot, with dot-stuffing undone. It keeps
// whatever arrived past the reply it hands out for the next read, so replies that arrive
// together (or pipelined) come out one by one, and it cuts them the same way wherever the
// network split the stream. It does no I/O itself: it asks its receive function for more,
// straight into its own buffer, so that a byte is copied once on its way from the socket (or
// from TLS) to the reply.

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class CReplyReader {
public:
    // Puts what has arrived at the start of `room` (never empty) and returns how many bytes it
    // put there; 0 when the connection has ended (closed, failed, timed out or cancelled) and
    // nothing more will come.
    using ReceiveFunction = std::function<std::size_t(std::span<char> room)>;

    // The most one receive is offered unless told otherwise: large receives keep the system
    // calls few.
    static constexpr std::size_t RECEIVE_SIZE = 256 * 1024;

    enum class Status {
        Complete,  // the line or block ended as the protocol says
        TooLarge,  // it outgrew the cap: dropped, but read to its end so the next reply is right
        Cut,       // the connection ended first; what came is handed out
    };

    // A buffer that grew beyond this for a reply (a long line makes it hold the whole line) is
    // made small again once the reply is handed out, so that one large reply does not keep its
    // memory for the rest of the connection.
    static constexpr std::size_t KEPT_CAPACITY = std::size_t{4} << 20;

    explicit CReplyReader(ReceiveFunction receive, std::size_t receiveSize = RECEIVE_SIZE,
                          std::size_t keptCapacity = KEPT_CAPACITY)
        : m_receive(std::move(receive)), m_receiveSize(receiveSize), m_keptCapacity(keptCapacity) {}

    // One status line, CR LF included. It ends at the first CR LF after its first byte, so a
    // bare CR LF is not a status line of its own.
    Status ReadLine(std::string& reply, std::size_t maxSize);
    // One block, up to and without its dot line, with its lines' leading dots unstuffed.
    Status ReadBlock(std::string& reply, std::size_t maxSize);

    // Forgets what is buffered: for a new connection.
    void Clear();
    // Bytes received and not yet handed out.
    std::size_t Buffered() const { return m_size - m_start; }
    // The bytes the buffer has room for.
    std::size_t Capacity() const { return m_capacity; }

private:
    // Drops what was handed out when that is most of the buffer, makes room, then receives.
    bool ReceiveMore();
    void Consume(std::size_t end);
    // Drops everything buffered but the last byte, which may be the CR of a line end.
    void KeepLastByte();
    // After a reply: a buffer grown beyond the kept capacity shrinks to what is still buffered
    // and one receive, when that is at most half of it.
    void ShrinkAfterReply();
    std::string_view Rest() const {
        return std::string_view(m_buffer.get() + m_start, m_size - m_start);
    }

    ReceiveFunction m_receive;
    std::size_t m_receiveSize;
    std::size_t m_keptCapacity;
    // Received bytes live in [0, m_size); those from m_start on are not handed out yet.
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
    std::size_t m_start = 0;
};
