#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace halvik::sim {

/// Faults a simulated device applies to its replies. Every random choice comes from one
/// generator seeded with `seed`, so the same requests in the same order meet the same faults.
struct FaultOptions
{
    /// Fraction (0..1) of replies never sent; the command still takes effect.
    double dropFraction = 0.0;
    /// Every reply leaves this many milliseconds after it is due.
    unsigned delayMs = 0;
    /// Fraction (0..1) of replies sent twice.
    double duplicateFraction = 0.0;
    /// Fraction (0..1) of replies sent with another command code than the request's.
    double wrongCodeFraction = 0.0;
    /// Fraction (0..1) of replies preceded by a datagram of 0 to 31 random bytes.
    double junkFraction = 0.0;
    /// Records requests but answers none.
    bool silent = false;
    /// Seed of the fault and read-back noise generator.
    std::uint64_t seed = 1;
};

/// Azimuth and elevation in degrees.
struct Angles
{
    double azimuth = 0.0;
    double elevation = 0.0;
};

/// Called with one finished log line (no newline), from the device's thread.
using LogSink = std::function<void(const std::string& line)>;

/// How one simulated device starts.
///
/// Units the device reads from the wire: the speed field (speed x 360) as field / 3.6 degrees per
/// second, so a speed of 10 moves at 1000 deg/s; the acceleration field as degrees per second
/// squared (default 10000 until the first SEAC). HOME moves to azimuth 0, elevation 0 at
/// 1000 deg/s.
struct DeviceOptions
{
    /// IPv4 address of the device's own socket.
    std::string address = "127.0.0.2";
    /// UDP port; 0 takes an ephemeral one (see SimulatedDevice::port()).
    std::uint16_t port = 4365;
    /// Payload of its "ERCQRE" answer.
    std::string serial = "VNT0001";
    /// Refuses SEAA and TRAA with status 4 until the first HOME has completed.
    bool requireHome = false;
    /// Also listens on 0.0.0.0:port for discovery and IP-change broadcasts.
    bool listenBroadcast = false;
    /// Faults applied from the start.
    FaultOptions faults;
    /// Starting azimuth in degrees.
    double initialAzimuth = 0.0;
    /// Starting elevation in degrees.
    double initialElevation = 0.0;
    /// Peak of the uniform noise (degrees) added to every GEAA read-back; 0 for exact readings.
    double readbackNoise = 0.02;
    /// Reversal dead zone (degrees) of both axes: the read-back lags the commanded position by
    /// half of it in the direction of the axis's last move.
    double backlash = 0.0;
    /// Fixed pointing offset (degrees) added to every GEAA read-back.
    Angles offset;
    /// Receives one line per request and per reply when set.
    LogSink log;
};

/// How a Simulator lays out its devices.
struct SimulatorOptions
{
    /// Number of devices.
    int devices = 3;
    /// Address of the first device; the others follow (127.0.0.2, 127.0.0.3, ...).
    std::string firstAddress = "127.0.0.2";
    /// Port shared by every device and the broadcast listener; 0 takes a free one.
    std::uint16_t port = 0;
    /// Serials are this prefix and a four-digit number from 0001.
    std::string serialPrefix = "VNT";
    /// As DeviceOptions::requireHome, for every device.
    bool requireHome = false;
    /// One listener on 0.0.0.0:port hands broadcasts to every device.
    bool listenBroadcast = true;
    /// Faults of every device; device i uses seed + i.
    FaultOptions faults;
    /// As DeviceOptions::readbackNoise.
    double readbackNoise = 0.02;
    /// As DeviceOptions::backlash and DeviceOptions::offset.
    double backlash = 0.0;
    Angles offset;
    /// As DeviceOptions::log, shared by every device.
    LogSink log;
};

/// One datagram a device received (on its own address or through the broadcast listener).
struct ReceivedRequest
{
    /// The whole datagram.
    std::string bytes;
    /// Dotted IPv4 address of the sender.
    std::string senderAddress;
    /// UDP port of the sender.
    std::uint16_t senderPort = 0;
    /// True when it came through the broadcast listener.
    bool viaBroadcast = false;
    /// Arrival time.
    std::chrono::steady_clock::time_point when;

    /// Bytes 2-5, or less for a shorter datagram.
    std::string code() const { return bytes.substr(2, 4); }
};

} // namespace halvik::sim
