#ifndef DEVICESIMULATOR_FIXTURE_H
#define DEVICESIMULATOR_FIXTURE_H

#include "devicesimulator.h"
#include "devicesimulator_client.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using StatusSteps = QList<SimScript::StatusStep>;

// Each test gets a fresh simulator on a fresh pty and a client port open on
// it. The tests are spread over three files: requests and files here in
// tst_, fault injection in _faults, and the port's life in _port.
class TestDeviceSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deviceQuery_replyCarriesIdentity_data();
    void deviceQuery_replyCarriesIdentity();
    void request_acknowledgedWithSameCommandAndSeq_data();
    void request_acknowledgedWithSameCommandAndSeq();
    void nonRequestFrame_recordedButNotAnswered();
    void frames_recordRetryAndCrcValidity();

    void wholeFile_acceptedAndRecordedExactly();
    void damagedFile_rejected_data();
    void damagedFile_rejected();
    void fileStart_discardsPartialData();
    void megabyteSegment_arrivesWhole();
    void scriptedVerdicts_overrideThenChecksumRuleReturns();
    void upgradeStatus_walksScriptAndRepeatsLast_data();
    void upgradeStatus_walksScriptAndRepeatsLast();
    void upgradeStatus_fileEndRestartsScript();

    void refuseNext_refusesThatManyThenAcknowledges_data();
    void refuseNext_refusesThatManyThenAcknowledges();
    void dropNextAcks_ignoresThatManyThenAcknowledges_data();
    void dropNextAcks_ignoresThatManyThenAcknowledges();
    void silent_answersNothingUntilLifted_data();
    void silent_answersNothingUntilLifted();
    void replyDelay_answersNoSooner();
    void mangledReplies_stillReassemble_data();
    void mangledReplies_stillReassemble();

    void reboot_portDropsAndReturnsOnNewPty_data();
    void reboot_portDropsAndReturnsOnNewPty();
    void reboot_whenDisabled_onlyAcknowledges();
    void vanish_portGoneUntilReappear();
    void start_refusesLinkPathTakenByFile();
    void start_replacesStaleLink();

    void commandLine_readsValues_data();
    void commandLine_readsValues();
    void commandLine_rejectsBadValues_data();
    void commandLine_rejectsBadValues();
    void executable_printsFactsAndAnswersOnLink();

private:
    // Sends 115, the data in `segments`, then 117; returns the 117 reply.
    std::optional<ReceivedFrame> transferFile(SimClient &client, const QByteArray &fileStartPayload,
                                              const QList<QByteArray> &segments);
    quint32 m_seq = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DeviceSimulator> m_sim;
    std::unique_ptr<SimClient> m_client;
};

#endif // DEVICESIMULATOR_FIXTURE_H
