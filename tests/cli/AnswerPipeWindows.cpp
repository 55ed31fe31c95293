#include <fcntl.h>
#include <io.h>

#include "tests/cli/AnswerPipe.h"

namespace tarvex {

CAnswerPipe::CAnswerPipe(const std::string& answer) {
    if (::_pipe(m_Fds, 4096, _O_BINARY) != 0) {
        m_Fds[0] = m_Fds[1] = -1;
        return;
    }
    m_bReady = ::_write(m_Fds[1], answer.data(), static_cast<unsigned>(answer.size())) ==
               static_cast<int>(answer.size());
}

CAnswerPipe::~CAnswerPipe() {
    for (const int fd : m_Fds) {
        if (fd >= 0) {
            ::_close(fd);
        }
    }
}

}  // namespace tarvex
