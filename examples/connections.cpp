// SPDX-License-Identifier: MIT
// tarn batched lookups and insertions: the connection table of a packet path.
//
// A receive loop takes packets from the network card in bursts of 32 and
// classifies each one by its flow, the five-tuple of addresses, ports and
// protocol. The table is a tarn tree of connection records keyed by that
// tuple in network byte order, compared byte-wise. One batched find per
// burst answers all 32 packets: their descents run interleaved, so the
// cache misses of a table far larger than the caches overlap instead of
// following one another. The connections of the burst's new flows are then
// linked by one batched insertion, whose descents are interleaved the same
// way before the links change.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarn.hpp"

// The flow of a packet as it arrives: big-endian fields, so that the bytes
// order as the numbers do. 16 bytes, which the library compares as one
// 128-bit word.
struct flow_key {
    std::uint8_t src_addr[4], dst_addr[4];
    std::uint8_t src_port[2], dst_port[2];
    std::uint8_t protocol;
    std::uint8_t zero[3];
};

struct connection {
    tarn_node link;
    flow_key flow;
    std::uint64_t packets, bytes;
};

using connection_table =
    tarn::tree<connection, &connection::link, &connection::flow, tarn::bytewise>;

namespace {

constexpr std::size_t kConnections = 200000, kBurst = 32, kBursts = 20000;

std::uint64_t rng_state = 0x2545F4914F6CDD1Du;
std::uint32_t next_random() {
    rng_state ^= rng_state << 13, rng_state ^= rng_state >> 7, rng_state ^= rng_state << 17;
    return std::uint32_t(rng_state >> 16);
}

void put_be(std::uint8_t *out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; i--, value >>= 8) out[i] = std::uint8_t(value);
}

// Flow i of the table: clients in 10.0.0.0/8 talking to a few servers.
flow_key flow_of(std::uint32_t i) {
    flow_key k{};
    put_be(k.src_addr, 0x0A000000u | (i * 2654435761u & 0xFFFFFF), 4);
    put_be(k.dst_addr, 0xC0A80001u + i % 7, 4);
    put_be(k.src_port, 1024 + i % 60000, 2);
    put_be(k.dst_port, i % 3 ? 443 : 80, 2);
    k.protocol = 6; // TCP
    return k;
}

} // namespace

int main() {
    constexpr std::size_t kFlows = kConnections + kConnections / 16; // 1 in 17 new at first
    std::vector<connection> connections(kFlows);
    connection_table table;
    for (std::uint32_t i = 0; i < kConnections; i++) {
        connections[i].flow = flow_of(i);
        if (!table.insert(connections[i])) return std::puts("duplicate flow"), 1;
    }

    // The receive loop: a burst of packets, one batched find, the
    // connections of new flows linked in one burst of their own, then each
    // packet counted on its connection.
    flow_key burst[kBurst];
    std::uint32_t sizes[kBurst], flows[kBurst];
    connection *found[kBurst], *fresh[kBurst];
    bool linked[kBurst];
    std::uint64_t opened = 0, classified = 0;
    for (std::size_t b = 0; b < kBursts; b++) {
        for (std::size_t p = 0; p < kBurst; p++) {
            std::uint32_t r = next_random();
            flows[p] = std::uint32_t(r % kFlows);
            burst[p] = flow_of(flows[p]);
            sizes[p] = 64 + r % 1400;
        }
        table.find(burst, kBurst, found);
        std::size_t n = 0; // a flow twice in the burst is opened once
        for (std::size_t p = 0; p < kBurst; p++) {
            if (found[p]) continue;
            connection *c = &connections[flows[p]];
            if (std::find(fresh, fresh + n, c) == fresh + n) c->flow = burst[p], fresh[n++] = c;
            found[p] = c;
        }
        table.insert(fresh, n, linked);
        opened += std::size_t(std::count(linked, linked + n, true));
        for (std::size_t p = 0; p < kBurst; p++) {
            found[p]->packets++;
            found[p]->bytes += sizes[p];
            classified++;
        }
    }

    // What the single calls say of the same flows.
    std::uint64_t packets = 0;
    for (const connection &c : table) packets += c.packets;
    for (std::uint32_t i = 0; i < kFlows; i += 997) {
        flow_key k = flow_of(i);
        connection *batched;
        table.find(&k, 1, &batched);
        if (batched != table.find(k)) return std::puts("batched and single find differ"), 1;
    }
    std::printf("%zu bursts of %zu packets: %llu to %zu connections, %llu opened by bursts\n",
                kBursts, kBurst, (unsigned long long)classified, table.size(),
                (unsigned long long)opened);
    return packets == classified && table.size() == kConnections + opened ? 0 : 1;
}
