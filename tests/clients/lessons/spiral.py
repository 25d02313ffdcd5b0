# A spiral of circles, a dot at its centre and a title under it.
import kelpmoor.turtle as turtle

colors = ["red", "orange", "yellow", "green", "cyan", "magenta"]
turtle.speed(0)
turtle.pensize(2)
for i in range(12):
    turtle.pencolor(colors[i % 6])
    turtle.circle(30 + 5 * i)
    turtle.left(30)
turtle.dot(30, "white")
turtle.penup()
turtle.goto(0, -200)
turtle.color("cyan")
turtle.write("Circles", align="center")
turtle.done()
