#pragma once
// Parameter undo: a widget wraps a user gesture in begin/commit, and when the outermost gesture
// closes every parameter whose value changed becomes one step. Cleared whenever the host session's
// generation changes, so steps never apply to state they were not taken from.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumo::gui {

class EditorHost;

class UndoHistory {
public:
    struct Change {
        uint64_t index = 0;  // position in the definition's parameter list
        double before = 0.0;
        double after = 0.0;
    };
    using Step = std::vector<Change>;

    static constexpr size_t kMaxSteps = 200;

    explicit UndoHistory(EditorHost& host);

    std::vector<double> snapshot() const;
    void sync();
    void begin();
    void commit();
    void apply(const std::vector<double>& values);
    void put(const Step& step, bool after);
    void undo();
    void redo();

    const std::vector<Step>& steps() const { return steps_; }
    size_t position() const { return position_; }
    uint32_t depth() const { return depth_; }

private:
    EditorHost& host_;
    std::vector<Step> steps_;
    size_t position_ = 0;
    std::vector<double> baseline_;
    uint32_t depth_ = 0;
    uint32_t generation_ = 0;
};

// Closes the gesture (commit) when it ends; holds no history when given null.
class UndoStep {
public:
    explicit UndoStep(UndoHistory* history);
    ~UndoStep();
    UndoStep(const UndoStep&) = delete;
    UndoStep& operator=(const UndoStep&) = delete;

private:
    UndoHistory* history_;
};

}  // namespace lumo::gui
