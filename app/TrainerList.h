#pragma once
// The trainers on the air, polled from a discovery source while a search runs, with the one the
// settings name marked, so that a rider can tell his own trainer from the neighbour's.
#include "app/DiscoverySource.h"

#include <QGroupBox>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTreeWidget;

class TTrainerList : public QGroupBox {
public:
    static constexpr int PollMs = 500;
    enum TColumn { clCurrent, clDeviceNumber, clTransmissionType, clMaker, clFeType, clRate, clHeard, clCount };

    // StickBusy: whether the calibration window holds the stick (a search would fail).
    TTrainerList(std::unique_ptr<TDiscoverySource> Source, std::function<bool()> StickBusy, QWidget *Parent);
    ~TTrainerList() override;

    // The device number in the settings: its row is marked.
    void SetCurrentNumber(int32_t Number);
    bool StartSearch();
    void StopSearch();
    // Reads the source again; the poll timer calls it.
    void Refresh();
    // The device number of the selected row; -1 when none is selected.
    int32_t SelectedNumber() const;

    // "Use this trainer" or a double-click: the selected trainer's number.
    std::function<void(uint16_t)> OnUse;

    QTreeWidget *Table;
    QPushButton *SearchButton;
    QPushButton *StopButton;
    QPushButton *UseButton;
    QLabel *SearchStatus;

private:
    void ShowDevices(const std::vector<TDiscoveredDevice> &Devices);
    void ShowButtons();
    void UseSelected();

    std::unique_ptr<TDiscoverySource> FSource;
    std::function<bool()> FStickBusy;
    QTimer FPoll;
    int32_t FCurrent = -1;
};

// "heard now" or "not heard since 12 s".
std::string LastHeardText(double SecondsSinceHeard);
