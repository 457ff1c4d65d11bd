#include "platform/ThreadMessages.h"

bool PostThreadMessage(uint32_t threadId, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    return TThreadMessageQueue::PostTo(threadId, TThreadMessage{msg, wParam, lParam});
}
