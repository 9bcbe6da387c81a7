// Putting one member at the head of a member list.
#include "korv/raid.h"

extern "C" void RaidDiskListPush(KORVRAIDDISK **head, KORVRAIDDISK *disk)
{
    if (!head || !disk)
        return;
    disk->next = *head;
    *head = disk;
}
