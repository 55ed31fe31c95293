#include <unistd.h>

#include "tests/cli/AnswerPipe.h"

namespace tarvex {

CAnswerPipe::CAnswerPipe(const std::string& answer) {
    if (::pipe(m_Fds) != 0) {
        m_Fds[0] = m_Fds[1] = -1;
        return;
    }
    m_bReady =
        ::write(m_Fds[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
}

CAnswerPipe::~CAnswerPipe() {
    for (const int fd : m_Fds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

}  // namespace tarvex
