#include "platform/jobscope.h"
#include "platform/threadlocal.h"

namespace {

PACKTOOL_THREAD_LOCAL JobScope* t_scope = nullptr;

} // namespace

JobScope* JobScope::Current()
{
    return t_scope;
}

JobScope::Enter::Enter(JobScope* scope) : m_previous(t_scope)
{
    t_scope = scope;
}

JobScope::Enter::~Enter()
{
    t_scope = m_previous;
}
