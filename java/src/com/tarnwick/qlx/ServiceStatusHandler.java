package com.tarnwick.qlx;

/** Receives the pause, continue and stop requests of the service manager. */
public interface ServiceStatusHandler {
    boolean canPause();

    boolean onPause();

    boolean onContinue();

    boolean onStop();
}
