#pragma once
// The pseudo-terminal of a shared bus link: a client (any Modbus RTU master) opens the link as
// its port, this side reads what the client writes and writes the replies back. The link is a
// symlink to the pty's slave side, given to the group dialout with mode 0660: only those who
// may use the real port may use the shared one. A link made for one user is given to that user
// with mode 0600 instead: no one else (but root) may open it.
//
// A client's exclusive use (TIOCEXCL) would outlive its close while the slave stays open here,
// and every later client but root's would find the link busy: the openings and closings of the
// slave are watched (inotify), and once no client holds it, its exclusive use is lifted and the
// replies it left unread are discarded. A client that opened meanwhile is never touched.
//
// A reply to a client that has closed the link is for no one: the next client would take it for
// the answer to its own request. Each client is therefore numbered (client()), and a reply is
// written only while the client that asked still holds the link.
#include "platform/PseudoTerminal.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

class SharedTerminal {
public:
    // Why a link cannot be made: the message names the link and says why.
    struct Refused : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // Makes the pty and links it at `linkPath`. A warning for the operator goes to *warning
    // (empty when none): no group dialout, or it cannot be given; the pty is then kept to this
    // user. Throws Refused when no pty can be made, when the path exists and is no symlink, when
    // it links to a pty that another live process holds (another logger's link), or when the
    // link cannot be made. With `owner`, the pty is that user's alone; Refused when it cannot
    // be given (only root may give it to another user).
    SharedTerminal(const std::string &linkPath, std::string *warning,
                   std::optional<unsigned> owner = std::nullopt);
    // Removes the link while it still points at this pty.
    ~SharedTerminal();
    SharedTerminal(const SharedTerminal &) = delete;
    SharedTerminal &operator=(const SharedTerminal &) = delete;

    const std::string &linkPath() const { return linkPath_; }
    const std::string &slavePath() const { return pty_.slavePath(); }
    // Readable when the client wrote.
    int clientFd() const { return pty_.masterFd(); }
    // Readable when a client opened or closed the link: call followClients().
    int watchFd() const { return watchFd_; }

    // Bytes the client wrote, at most into.size(); 0 when there are none now.
    std::size_t readClient(std::span<std::uint8_t> into);
    // A client that does not read its replies loses them: this never waits for it.
    void writeReply(std::span<const std::uint8_t> bytes);
    // Takes the openings and closings seen since the last call. When no client holds the link
    // any more, lifts the last one's exclusive use and discards what it left unread; true then.
    // From any thread.
    bool followClients();
    // The number of the client that holds the link now, or of the next one while none does: the
    // closings seen so far, counting those not yet taken. From any thread.
    std::uint64_t client();

private:
    std::string linkPath_;
    PseudoTerminal pty_;
    int watchFd_ = -1;
    std::mutex mutex_;       // the watch and the counts below: the reader's and the relay's
    int clientsOpen_ = 0;    // openings seen minus closings
    std::uint64_t closings_ = 0;
};
