// One line per process of a simulated host, written at its exit when
// SANSIM_PROCLOG names a file: what the process cost on its own (wall and CPU
// time, peak memory) and what of that the interposer's own reading was.
// The scale benchmark reads it; tests and tools never see it.
#ifndef SANSIM_PROCESS_RECORD_H
#define SANSIM_PROCESS_RECORD_H

namespace sansim_preload {

// Called around the interposer's reading of the host's lines in this process.
void NoteHostReadStart();
void NoteHostReadEnd();

}  // namespace sansim_preload

#endif  // SANSIM_PROCESS_RECORD_H
