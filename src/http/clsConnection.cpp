// One client connection: its phases and event forwarding.
#include "http/clsConnection.h"

#include <cstddef>

namespace quenloft {

namespace {

enum Change { UnderWay, Gone, EndAfter };

constexpr ConnectionPhase Reading = ConnectionPhase::Reading;
constexpr ConnectionPhase Answering = ConnectionPhase::Answering;
constexpr ConnectionPhase Last = ConnectionPhase::AnsweringLast;
constexpr ConnectionPhase Ending = ConnectionPhase::Ending;

// The phase after each change, by the phase before it.
constexpr ConnectionPhase After[4][3] = {
    // answer under way, answer gone, end after answer
    {Answering, Reading, Ending}, // Reading
    {Answering, Reading, Last},   // Answering
    {Last, Ending, Last},         // AnsweringLast
    {Last, Ending, Ending},       // Ending
};

} // namespace

void clsConnection::AnswerUnderWay() {
    Phase = After[static_cast<size_t>(Phase)][UnderWay];
}

void clsConnection::AnswerGone() {
    Phase = After[static_cast<size_t>(Phase)][Gone];
}

void clsConnection::EndAfterAnswer() {
    Phase = After[static_cast<size_t>(Phase)][EndAfter];
}

// Holding a counted reference keeps this object alive when the server empties its slot
// while the event is being handled. A connection no longer in its slot has nothing to say.
void clsConnection::Forward(SocketEventType eventType, const SocketEventParameters& paramenters) {
    auto self = shared_from_this();
    if (Trapper && Trapper->Holds(*this)) {
        Trapper->SocketEvent(Index, eventType, paramenters);
    }
}

void clsConnection::OnClose() {
    Forward(SocketEventType::OnClose);
}

void clsConnection::OnConnect() {
    Forward(SocketEventType::OnConnect);
}

void clsConnection::OnConnectionRequest(int32_t requestID) {
    SocketEventParameters p;
    p.RequestID = requestID;
    Forward(SocketEventType::OnConnectionRequest, p);
}

void clsConnection::OnDataArrival(int32_t bytesTotal) {
    SocketEventParameters p;
    p.BytesTotal = bytesTotal;
    Forward(SocketEventType::OnDataArrival, p);
}

void clsConnection::OnError(int16_t Number, std::string& Description, int32_t Scode,
                            const std::string& Source, const std::string& HelpFile,
                            int32_t HelpContext, bool& /*CancelDisplay*/) {
    SocketEventParameters p;
    p.Number = Number;
    p.Description = Description;
    p.Scode = Scode;
    p.Source = Source;
    p.HelpFile = HelpFile;
    p.HelpContext = HelpContext;
    Forward(SocketEventType::OnError, p);
}

void clsConnection::OnSendComplete() {
    Forward(SocketEventType::OnSendComplete);
}

void clsConnection::OnSendProgress(int32_t bytesSent, int32_t bytesRemaining) {
    SocketEventParameters p;
    p.BytesSent = bytesSent;
    p.BytesRemaining = bytesRemaining;
    Forward(SocketEventType::OnSendProgress, p);
}

} // namespace quenloft
