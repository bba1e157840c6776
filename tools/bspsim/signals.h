// SIGINT and SIGTERM for the shell's front ends: noted in flags and on a descriptor that a
// reader can poll beside its input, so that no read is left hanging.
#ifndef BSP_TOOLS_BSPSIM_SIGNALS_H
#define BSP_TOOLS_BSPSIM_SIGNALS_H

namespace bsp::shell {

// `interrupt_only`: SIGINT interrupts (the line or the command) instead of ending the shell.
void install_signal_handlers(bool interrupt_only);
int signal_fd();  // readable after a signal or a requested end
void clear_signal_fd();
bool end_requested();
void request_end();

}  // namespace bsp::shell

#endif
