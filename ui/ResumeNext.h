#pragma once

// Error state of a skip-and-continue handler: a step that fails is skipped
// and remembered, and the handler tests the state where it matters. Any
// failure counts, whatever was thrown.
class ResumeNext {
public:
    template <class Step>
    void attempt(Step&& step) {
        try {
            step();
        } catch (...) {
            m_failed = true;
        }
    }
    bool failed() const { return m_failed; }

private:
    bool m_failed = false;
};
