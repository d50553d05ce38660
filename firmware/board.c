/*
 * Velmora example board firmware: a standard 8051 at 11.0592 MHz.
 *
 * UART in mode 1 (8-bit, one start and one stop bit, no parity) at BAUD,
 * clocked by timer 1 in mode 2 (8-bit auto-reload).  On start-up it sends
 * "U", then echoes every character it receives; after echoing TRIGGER it
 * also sends ACK, so the PC's acknowledgement wait has something to wait for.
 *
 * Build:  make (all three speeds), or by hand for one speed:
 *   sdcc -mmcs51 --iram-size 128 --xram-size 0 --code-size 4096 -DBAUD=9600 board.c
 */
#include <8051.h>

#ifndef BAUD
#define BAUD 9600
#endif

#define TRIGGER '?'
#define ACK 'K'

/*
 * With SMOD = 0 the baud rate is f_osc / (12 * 32 * (256 - TH1)); 11.0592 MHz
 * divides exactly for all three speeds.
 */
#if BAUD == 4800
#define RELOAD 0xFA
#elif BAUD == 9600
#define RELOAD 0xFD
#elif BAUD == 14400
#define RELOAD 0xFE
#else
#error "BAUD must be 4800, 9600 or 14400"
#endif

/*
 * Received characters queue here so that none is lost while the main loop
 * is still sending the echo (and acknowledgement) of an earlier one.
 * A power of two, so the indices wrap with a mask.
 */
#define RX_SIZE 32
static __idata volatile unsigned char rx_buf[RX_SIZE];
static volatile unsigned char rx_head; /* written by the interrupt only */
static volatile unsigned char rx_tail; /* written by the main loop only */
static volatile __bit tx_busy;

void uart_isr(void) __interrupt(4) {
    if (RI) {
        unsigned char next = (rx_head + 1) & (RX_SIZE - 1);
        if (next != rx_tail) { /* when full, drop the newest character */
            rx_buf[rx_head] = SBUF;
            rx_head = next;
        }
        RI = 0;
    }
    if (TI) {
        TI = 0;
        tx_busy = 0;
    }
}

static void put(unsigned char c) {
    while (tx_busy)
        ;
    tx_busy = 1;
    SBUF = c;
}

static unsigned char get(void) {
    unsigned char c;
    while (rx_tail == rx_head)
        ;
    c = rx_buf[rx_tail];
    rx_tail = (rx_tail + 1) & (RX_SIZE - 1);
    return c;
}

void main(void) {
    rx_head = 0;
    rx_tail = 0;
    tx_busy = 0;

    PCON &= 0x7F;                /* SMOD = 0: no baud doubling */
    TMOD = (TMOD & 0x0F) | 0x20; /* timer 1: mode 2, auto-reload */
    TH1 = RELOAD;
    TL1 = RELOAD;
    TR1 = 1;
    SCON = 0x50; /* mode 1, receiver enabled, RI = TI = 0 */
    ES = 1;
    EA = 1;

    put('U');
    for (;;) {
        unsigned char c = get();
        put(c);
        if (c == TRIGGER) put(ACK);
    }
}
