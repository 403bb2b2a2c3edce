#pragma once

// How a step of the run ended, for the step that called it: whether to go on, and if not, what
// kind of end it was. The failure itself, with its message and whether it may pass, is recorded
// once, in the session's failure state (classUpload::RecordFailure), which the run's result and
// the faces read; the outcome carries it back up the sequence so that every caller has to decide
// what it means ([[nodiscard]] steps), instead of remembering to look at a flag.
class StepOutcome
{
public:
    enum class Ending {
        Done,
        Refused,        // the server said no, with the reply code
        ConnectionLost, // the connection to the server is gone
        Cancelled,      // the user stopped the run
        TimedOut,       // the watchdog stopped the run: the server went silent
        Failed,         // any other failure, its message recorded
    };

    StepOutcome() = default; // done
    static StepOutcome done() { return StepOutcome(); }
    static StepOutcome ended(Ending ending) { return StepOutcome(ending, 0); }
    static StepOutcome refused(int replyCode) { return StepOutcome(Ending::Refused, replyCode); }

    [[nodiscard]] Ending ending() const { return mEnding; }
    [[nodiscard]] bool isDone() const { return mEnding == Ending::Done; }
    // The server's reply code of a refusal; 0 otherwise.
    [[nodiscard]] int replyCode() const { return mReplyCode; }
    explicit operator bool() const { return isDone(); }
    bool operator==(const StepOutcome &) const = default;

private:
    StepOutcome(Ending ending, int replyCode) : mEnding(ending), mReplyCode(replyCode) {}

    Ending mEnding = Ending::Done;
    int mReplyCode = 0;
};
