// The programs' diagnostics: a threshold that gates every message, the
// messages of a worker thread kept apart while it queries a device and
// written later in the devices' list order, and one place they go: standard
// output (terminal-safe, flushed at once) or a sink (the --json document).
// Each program owns one logger and keeps its own names around it.
#ifndef TSKIT_LUN_LOG_H
#define TSKIT_LUN_LOG_H

#include <stdarg.h>

#include <string>

// Takes a message instead of standard output; text ends with the message's
// own line end, if it has one.
typedef void (*LunLogSink)(const char* text);

// How a program's logger differs from the other's.
struct LunLogOptions {
    // The program's threshold variable: its modules and tests set it by name.
    int* level;
    // A worker thread keeps an empty message, so that its replay reaches the
    // sink as an empty element (ts_showdisk's --json log has one).
    bool keepEmpty;
    // The sink takes what vsnprintf wrote before it failed, when no worker
    // thread keeps the message (tsexTool); otherwise such a message is lost.
    bool sinkTakesFailed;
    // A worker thread keeps a long message whole even while the sink is set,
    // since the sink cuts it itself (ts_showdisk); otherwise it keeps what
    // the sink would take.
    bool keepWhole;
};

class LunLog {
  public:
    // The longest message a sink takes is kSinkRoom - 1 bytes; standard
    // output takes any length.
    static constexpr size_t kSinkRoom = 1024;

    constexpr explicit LunLog(const LunLogOptions& options) : options_(options) {}

    // Where the messages go instead of standard output (null: back there).
    void SetSink(LunLogSink sink) { sink_ = sink; }
    LunLogSink Sink() const { return sink_; }

    // The messages of the calling thread go into kept (null: written now),
    // each ended by a NUL, as they would have reached their output.
    static void Capture(std::string* kept);
    // Writes kept messages one by one where they go now.
    void Replay(const std::string& kept) const;

    // Writes a message when the level is at most threshold.
    void Write(int threshold, const char* format, va_list args) const
        __attribute__((format(printf, 3, 0)));

  private:
    void Put(const char* text) const;

    LunLogOptions options_;
    LunLogSink sink_ = nullptr;
};

#endif  // TSKIT_LUN_LOG_H
