#include "simscript.h"

#include "ARNetType.h"

QList<SimScript::StatusStep> SimScript::defaultStatusScript()
{
    return {{0, STAT_VERIFY_IMAGE}, {0, STAT_START},        {20, STAT_IN_PROGRESS},
            {40, STAT_IN_PROGRESS}, {60, STAT_IN_PROGRESS}, {80, STAT_IN_PROGRESS},
            {100, STAT_DONE}};
}

SimScript::Disposition SimScript::dispose(quint32 command)
{
    if (m_silent.contains(command) || m_silent.contains(AnyCommand))
        return Disposition::Ignore;
    if (takeOne(m_drops, command))
        return Disposition::Ignore;
    if (takeOne(m_refusals, command))
        return Disposition::Refuse;
    return Disposition::Answer;
}

bool SimScript::takeOne(QHash<quint32, int> &counts, quint32 command)
{
    for (quint32 key : {command, AnyCommand}) {
        auto it = counts.find(key);
        if (it != counts.end() && it.value() > 0) {
            --it.value();
            return true;
        }
    }
    return false;
}

void SimScript::setSilent(bool silent, quint32 command)
{
    if (silent)
        m_silent.insert(command);
    else if (command == AnyCommand)
        m_silent.clear();
    else
        m_silent.remove(command);
}

void SimScript::refuseNext(int count, quint32 command)
{
    m_refusals[command] = qMax(0, count);
}

void SimScript::dropNext(int count, quint32 command)
{
    m_drops[command] = qMax(0, count);
}

std::optional<int> SimScript::takeVerdict()
{
    if (m_verdicts.isEmpty())
        return std::nullopt;
    return m_verdicts.takeFirst();
}

void SimScript::setStatusScript(const QList<StatusStep> &steps)
{
    m_statusScript = steps.isEmpty() ? defaultStatusScript() : steps;
    restartStatus();
}

SimScript::StatusStep SimScript::nextStatus()
{
    const StatusStep step = m_statusScript.at(m_statusIndex);
    if (m_statusIndex < m_statusScript.size() - 1)
        ++m_statusIndex;
    return step;
}
