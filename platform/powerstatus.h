#pragma once
// Power status read from the kernel's power-supply class
// (/sys/class/power_supply, or the folder named by PDA_POWER_SUPPLY_DIR).

struct PowerStatus {
    enum { Offline = 0, Online = 1 };                         // acStatus
    enum { Good = 0x01, Low = 0x02, Critical = 0x04, Charging = 0x10 }; // batteryStatus bits
    int acStatus = Online;
    int batteryStatus = 0;
    int batteryPercent = -1;   // -1: no battery listed
};

class PowerStatusManager {
public:
    // A battery counts as good above this capacity, or when its status is Full.
    static constexpr int goodCapacityPercent = 20;
    static PowerStatus readStatus();
};
