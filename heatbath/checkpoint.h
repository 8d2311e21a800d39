// The checkpoint of a run: the parameters that fix its chain and the state
// after a sweep, from which --resume goes on with the same chain, appending
// to the same series file.
//
// The file holds nothing that depends on how the run was split (threads, or
// processes of a decomposed lattice): the configuration in site order, the
// counters as sums over the whole lattice, the parameters of the chain but
// not the number of threads.  One writer makes it.
#pragma once

#include <cstdint>
#include <string>

#include "heatbath/program.h"

namespace o1hb {

// What a checkpoint says beside the chain's state.
struct Checkpoint {
    RunParameters run;            // threads is not kept (0 when read)
    SeriesFormat series_format = SeriesFormat::Text;
    std::uint64_t table_id = 0;   // table_identity of the heat bath's table; 0 for Metropolis
    std::uint64_t series_bytes = 0;  // length of the series file after the last sweep of the state
};

// CRC-32 (the polynomial of zlib and PNG, reflected) of n bytes, continuing
// from the CRC crc of the bytes before them (0 for none).
std::uint32_t crc32(std::uint32_t crc, const unsigned char *data, std::size_t n);

// The identity of a table file: its length (high 32 bits) and the CRC-32 of
// its bytes.  Two tables that draw differently differ in it.  Refuses
// without blocking what is not a regular file; throws std::runtime_error
// naming the file when it cannot be read.
std::uint64_t table_identity(const std::string &path);

// Writes c and the state s of its run to path under a fresh temporary name,
// renamed over path when complete (write_file_atomically), with a CRC-32 of
// everything before it at the end.  Throws std::runtime_error naming the file
// when it cannot be written (path untouched).
void write_checkpoint(const std::string &path, const Checkpoint &c, const ChainState &s);

// The checkpoint at path, its state in s.  Refuses without blocking what is not a regular
// file; throws std::runtime_error naming the file and what is wrong when it
// is not a checkpoint, of another version, cut short or too long for its
// lattice, damaged (the CRC does not match) or inconsistent.
Checkpoint read_checkpoint(const std::string &path, ChainState &s);

// Throws std::invalid_argument naming the first parameter in which the run
// of o differs from the checkpoint's (lattice, beta, landa, update, order,
// cluster updates, Metropolis hits and step, seed, sweeps, the table by
// table_id, the series format): a checkpoint goes on only with its own chain.
void check_resume(const Checkpoint &c, const Options &o, std::uint64_t table_id);

}  // namespace o1hb
