#pragma once
// Other programs on the X server, played by the tests themselves, each on a connection of its own:
// a drop target, a drag source, a host window to embed into and a stand-in window manager. Xlib
// stays in x11_peers.cpp: its macros clash with the toolkit's names.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/x11_link.h"

struct _XDisplay;

namespace wintest {

// A top-level window that takes file drags: it records what it was offered and answers every
// position with `answer` ("copy", "move" or "none"; "frozen" answers nothing, as a program that
// hangs); a drop gets the data and is finished. With `strayProxy` its XdndProxy names a window of
// another connection that does not name itself, which a source must not trust.
class DropTargetPeer {
public:
    DropTargetPeer(int x, int y, int w, int h, std::string answer, bool strayProxy = false);
    ~DropTargetPeer();
    bool ready() const { return ready_; }
    struct Seen {
        int enters = 0, positions = 0, leaves = 0, drops = 0;
        std::string requested;  // the action the source asked for, last position
        std::string data;       // the text/uri-list received at the drop
    };
    Seen seen();

private:
    void run(int x, int y, int w, int h);
    std::string answer_;
    bool strayProxy_ = false;
    std::atomic<bool> ready_{false}, stop_{false};
    std::mutex mutex_;
    Seen seen_;
    std::thread thread_;
};

// A drag of a uri list from another program: enter, the positions (root points), then how it
// ends, each position waiting for the target's answer.
class DragSourcePeer {
public:
    enum class End {
        drop,
        leave,
        vanish,  // the source's window is destroyed, with no leave or drop
        silent,  // nothing more is sent until the test lets it go (the window stays), then as vanish
    };
    struct Answer {
        bool accepted = false;
        std::string action;  // "copy", "move", "link", "private", "" for none
    };
    DragSourcePeer(unsigned long target, std::string uriList, std::string action, std::vector<std::pair<int, int>> points,
                   End end);
    ~DragSourcePeer();
    bool done() const { return done_; }
    // Lets a silent source end.
    void release() { released_ = true; }
    std::vector<Answer> statuses();
    bool finished = false;  // the target's finish came (valid once done)
    Answer finish;

private:
    void run(unsigned long target, std::vector<std::pair<int, int>> points, End end);
    std::string uris_, action_;
    std::atomic<bool> done_{false}, released_{false};
    std::mutex mutex_;
    std::vector<Answer> statuses_;
    std::thread thread_;
};

// Records the client messages sent to the root window (the requests to a window manager) and,
// as a manager would, applies maximize requests to the window's state.
class StandInWm {
public:
    StandInWm();
    ~StandInWm();
    bool ready() const { return ready_; }
    struct Message {
        std::string type;
        unsigned long window = 0;
        long l[5] = {};
        std::string atom1, atom2;  // for _NET_WM_STATE: the properties it names
    };
    std::vector<Message> messages();
    // Sends a message of type "LUMO_MARK" to the root window from a connection of its own: once
    // it is among the messages, so is every request to the manager the server had before it.
    static void mark();

private:
    void run();
    std::atomic<bool> ready_{false}, stop_{false};
    std::mutex mutex_;
    std::vector<Message> messages_;
    std::thread thread_;
};

// A host program's window, for embedding; used from the test's thread only.
class HostWindow {
public:
    HostWindow(int w, int h);
    ~HostWindow();
    unsigned long id() const { return window_; }
    void resize(int w, int h);
    // Closes the host window, as a host that forgets to detach first does.
    void destroy();
    // Gives the keyboard to the host window, or to nobody.
    void focus(bool on);
    // The parent of a window, its size (0 x 0 if none) and the window with the keyboard.
    unsigned long parentOf(unsigned long window);
    std::pair<int, int> sizeOf(unsigned long window);
    unsigned long focused();
    // A window id that names no window.
    unsigned long goneId();
    // Maps a gone window (`window`, or one of its own) on a connection of the host's that the tests
    // leave to the process's error handler, as a host program's own is, and waits for the error. The
    // request's number is `numberFrom` or more.
    void failingRequest(unsigned long window = 0, unsigned long numberFrom = 0);
    // Sends a drag message ("enter", "leave" or "drop") of a drag from the host's own window to
    // `target` (through its proxy when it names one), as a host dragging its files does.
    void dragMessage(unsigned long target, const std::string& type);

private:
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
};

// Pinch steps as the link reads them off synthetic gesture events: begin, the updates, then an
// end (cancelled or not), at (x, y) with control held when asked, each stamped `time` (server ms).
std::vector<lumo::platform::PinchStep> pinchFromEvents(double x, double y, const std::vector<double>& scales,
                                                       bool cancelled, bool control, unsigned long time = 0);

// The X server's time now, in ms; 0 when no server is reachable.
unsigned long serverTime();

}  // namespace wintest
