#pragma once

#include <QByteArray>

// How the stand-in calculation server treats one incoming connection.
struct CalcSimRule {
    enum class Action {
        Answer,   // write the answer at once, then close
        Empty,    // close without writing anything
        Slow,     // wait delayMs, then write the answer and close
        Chunked,  // write the answer in `chunks` pieces, delayMs apart, then close
        Refuse,   // reset the connection as soon as it is accepted, without reading
    };

    Action action = Action::Answer;
    QByteArray answer;
    int delayMs = 0;
    int chunks = 1;
    bool answerFromFile = false;  // the answer is looked up by request kind once the request is in
};
