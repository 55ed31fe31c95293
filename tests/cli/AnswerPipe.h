#pragma once
// A pipe that holds an answer typed in advance, read through a C runtime descriptor as the
// terminal program reads its standard input. tests/cli/AnswerPipe*.cpp for each system.

#include <string>

namespace tarvex {

class CAnswerPipe {
public:
    explicit CAnswerPipe(const std::string& answer);
    ~CAnswerPipe();
    CAnswerPipe(const CAnswerPipe&) = delete;
    CAnswerPipe& operator=(const CAnswerPipe&) = delete;

    // False when the pipe could not be made or the answer not written.
    bool Ready() const { return m_bReady; }
    int ReadFd() const { return m_Fds[0]; }

private:
    int m_Fds[2] = {-1, -1};
    bool m_bReady = false;
};

}  // namespace tarvex
