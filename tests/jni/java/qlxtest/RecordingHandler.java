package qlxtest;

import com.tarnwick.qlx.ServiceStatusHandler;

/** A service status handler whose answers the test sets and whose calls it reads. */
public class RecordingHandler implements ServiceStatusHandler {
    public static String calls = "";
    public boolean canPauseAnswer;
    public boolean pauseAnswer;

    public RecordingHandler(boolean canPauseAnswer, boolean pauseAnswer) {
        this.canPauseAnswer = canPauseAnswer;
        this.pauseAnswer = pauseAnswer;
    }

    static synchronized void record(String call) {
        calls = calls + call + ";";
    }

    public boolean canPause() {
        record("canPause");
        return canPauseAnswer;
    }

    public boolean onPause() {
        record("onPause");
        return pauseAnswer;
    }

    public boolean onContinue() {
        record("onContinue");
        return true;
    }

    public boolean onStop() {
        record("onStop");
        throw new IllegalStateException("a failing onStop cannot keep the service running");
    }
}
